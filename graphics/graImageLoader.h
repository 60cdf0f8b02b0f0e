#pragma once
// Pictures reach the engine only through code that checks its bounds. The engine's own JPEG
// loader reads past its buffer on a file cut short, and its BMP loader allocates what the
// header claims (a negative height is a request for gigabytes); so PNG and JPEG files are
// decoded here by libpng and libjpeg-turbo under their error handlers, and BMP and TGA files
// are walked here first (header, palette, every pixel index, every run of a compressed
// file within the picture and the file) and only then handed to the engine's loader.
//
// The loader stands before the engine's (it is asked first) and answers for every file it
// takes, by name or by content: a damaged one gives a 1 by 1 transparent picture rather
// than nothing, since nothing would send the file on to the engine's loader. Callers that
// load a texture by name ask Damaged() afterwards and treat such a picture as missing.
#include <string>

namespace irr {
namespace video {
class ITexture;
class IVideoDriver;
}  // namespace video
}  // namespace irr

class graImageLoader {
 public:
  // Puts the loader before the driver's own ones.
  static void Install(irr::video::IVideoDriver* a_driver);

  // The driver's texture of a_name, or null when it is missing or damaged; a damaged one is
  // named once on the console, and not kept in the driver's cache.
  static irr::video::ITexture* GetTexture(irr::video::IVideoDriver* a_driver, const char* a_name);

  // What was wrong with the last damaged picture, when the last picture loaded was one.
  static bool Damaged(std::string* a_why);
  // Forgets the last picture (call before a load whose outcome Damaged() is to tell).
  static void Forget();

  // The check of one file's bytes, as the loader does it: empty when the engine may be given
  // the file, else why not. a_name picks the format when the content does not.
  static std::string Problem(const unsigned char* a_bytes, size_t a_size, const std::string& a_name);

  // Whether the picture is decoded here from start to end (PNG, by libpng under its error
  // handler, within the size bounds) so that no engine loader ever reads it: such a file
  // needs no trial load. a_bytes are the file's first bytes (8 are enough).
  static bool DecodesAlone(const unsigned char* a_bytes, size_t a_size, const std::string& a_name);
};
