#include "graphics/graImageLoader.h"

#include <irrlicht.h>
#include <png.h>
#include <setjmp.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

#include "binding/gConsole.h"

using namespace irr;

namespace {

// Larger pictures than any texture a card takes are refused before anything is allocated.
constexpr u32 kMaxSide = 16384;
constexpr size_t kMaxFileBytes = 256u * 1024 * 1024;

enum Format { NONE, PNG, JPEG, BMP, TGA };

bool s_damaged = false;
std::string s_why;

Format ByContent(const unsigned char* a_bytes, size_t a_size) {
  static const unsigned char png[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (a_size >= 8 && std::memcmp(a_bytes, png, 8) == 0) return PNG;
  if (a_size >= 3 && a_bytes[0] == 0xFF && a_bytes[1] == 0xD8 && a_bytes[2] == 0xFF) return JPEG;
  if (a_size >= 2 && a_bytes[0] == 'B' && a_bytes[1] == 'M') return BMP;
  return NONE;
}

Format ByName(const std::string& a_name) {
  const size_t dot = a_name.rfind('.');
  if (dot == std::string::npos) return NONE;
  const char* extension = a_name.c_str() + dot + 1;
  if (!strcasecmp(extension, "png")) return PNG;
  if (!strcasecmp(extension, "jpg") || !strcasecmp(extension, "jpeg")) return JPEG;
  if (!strcasecmp(extension, "bmp")) return BMP;
  if (!strcasecmp(extension, "tga")) return TGA;
  return NONE;
}

u32 U16(const unsigned char* a_at) { return a_at[0] | (a_at[1] << 8); }
u32 U32(const unsigned char* a_at) {
  return a_at[0] | (a_at[1] << 8) | (a_at[2] << 16) | (static_cast<u32>(a_at[3]) << 24);
}

// ---- BMP: the header fields the engine's loader trusts ---------------------------------

// The engine reads a 54-byte header, a palette of (data offset - 54) / 4 entries that every
// index of a 4- and 8-bit picture is looked up in unchecked, and rows of whole 32-bit words.
std::string BmpProblem(const unsigned char* a_bytes, size_t a_size) {
  if (a_size < 54) return "its header is cut short";
  const u32 offset = U32(a_bytes + 10);
  const s32 width = static_cast<s32>(U32(a_bytes + 18));
  const s32 height = static_cast<s32>(U32(a_bytes + 22));
  const u32 bits = U16(a_bytes + 28);
  const u32 compression = U32(a_bytes + 30);
  const u32 declared = U32(a_bytes + 34);
  if (U32(a_bytes + 14) < 40) return "its header is of a kind the loader does not read";
  if (width <= 0 || height <= 0 || static_cast<u32>(width) > kMaxSide || static_cast<u32>(height) > kMaxSide)
    return "its size is not a picture's size";
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return "its bits per pixel are not 1, 4, 8, 16, 24 or 32";
  if (compression != 0) return "it is compressed, which the loader cannot do safely";
  if (offset < 54 || offset > a_size) return "its pixels do not start inside the file";
  // The engine rounds a declared size up to whole words, and guesses one left at 0.
  const unsigned long long data = declared ? (declared + 3ull) / 4 * 4 : a_size - offset;
  if (offset + data > a_size) return "its pixels run past the end of the file";
  const unsigned long long row = (static_cast<unsigned long long>(width) * bits + 31) / 32 * 4;
  if (row * static_cast<u32>(height) > data) return "it holds fewer pixels than its size needs";
  if (bits == 4 || bits == 8) {
    const u32 colours = (offset - 54) / 4;
    const unsigned char* pixels = a_bytes + offset;
    for (unsigned long long i = 0; i < row * static_cast<u32>(height); ++i) {
      const u32 high = bits == 8 ? pixels[i] : pixels[i] >> 4;
      const u32 low = bits == 8 ? 0 : pixels[i] & 15;
      if (high >= colours || low >= colours) return "a pixel names a colour its palette does not have";
    }
  }
  return "";
}

// ---- TGA ---------------------------------------------------------------------------------

// The engine's loader reads the colour map it is told of, then w * h pixels, or runs of a
// compressed picture, which it writes without looking where they end.
std::string TgaProblem(const unsigned char* a_bytes, size_t a_size) {
  if (a_size < 18) return "its header is cut short";
  const u32 idLength = a_bytes[0];
  const u32 mapType = a_bytes[1];
  const u32 type = a_bytes[2];
  const u32 mapLength = U16(a_bytes + 5);
  const u32 mapBits = a_bytes[7];
  const u32 width = U16(a_bytes + 12);
  const u32 height = U16(a_bytes + 14);
  const u32 depth = a_bytes[16];
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return "its size is not a picture's size";
  if (mapType > 1) return "its colour map is of an unknown kind";
  if (mapType == 1 && mapBits != 16 && mapBits != 24 && mapBits != 32)
    return "its colour map has entries of an unknown size";
  const bool fits = (type == 1 && depth == 8 && mapType == 1 && mapLength > 0) || (type == 3 && depth == 8) ||
                    ((type == 2 || type == 10) && (depth == 16 || depth == 24 || depth == 32));
  if (!fits) return "it is of a kind of picture the loader does not read";
  size_t at = 18 + idLength + (mapType ? mapLength * (mapBits / 8) : 0);
  if (at > a_size) return "its colour map runs past the end of the file";
  const size_t pixel = depth / 8;
  const size_t total = static_cast<size_t>(width) * height * pixel;
  if (type != 10) {
    if (total > a_size - at) return "it holds fewer pixels than its size needs";
    if (type == 1)
      for (size_t i = 0; i < total; ++i)
        if (a_bytes[at + i] >= mapLength) return "a pixel names a colour its colour map does not have";
    return "";
  }
  for (size_t written = 0; written < total;) {
    if (at >= a_size) return "its pixels run past the end of the file";
    const u32 header = a_bytes[at++];
    const size_t count = (header & 0x7F) + 1;
    const size_t read = header < 128 ? count * pixel : pixel;
    if (count * pixel > total - written) return "a run of its pixels goes past the picture";
    if (read > a_size - at) return "its pixels run past the end of the file";
    at += read;
    written += count * pixel;
  }
  return "";
}

// ---- PNG and JPEG: decoded here ----------------------------------------------------------

video::IImage* DecodePng(video::IVideoDriver* a_driver, const unsigned char* a_bytes, size_t a_size,
                         std::string* a_why) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, a_bytes, a_size)) {
    *a_why = png.message;
    return nullptr;
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxSide || png.height > kMaxSide) {
    png_image_free(&png);
    *a_why = "its size is not a picture's size";
    return nullptr;
  }
  // The engine's A8R8G8B8 is blue, green, red, alpha in memory.
  png.format = PNG_FORMAT_BGRA;
  video::IImage* image = a_driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(png.width, png.height));
  if (!image) {
    png_image_free(&png);
    *a_why = "no memory for it";
    return nullptr;
  }
  if (!png_image_finish_read(&png, nullptr, image->lock(), static_cast<png_int_32>(png.width * 4), nullptr)) {
    image->unlock();
    image->drop();
    *a_why = png.message;
    return nullptr;
  }
  image->unlock();
  return image;
}

struct JpegErrors {
  jpeg_error_mgr manager;
  jmp_buf back;
  bool cutShort;
  char message[JMSG_LENGTH_MAX];
};

void JpegFails(j_common_ptr a_info) {
  JpegErrors* errors = reinterpret_cast<JpegErrors*>(a_info->err);
  (*a_info->err->format_message)(a_info, errors->message);
  longjmp(errors->back, 1);
}

// Warnings are recoverable and libjpeg goes on safely, except that a file cut short is then
// filled with grey: that one counts as damage.
void JpegSays(j_common_ptr a_info, int a_level) {
  JpegErrors* errors = reinterpret_cast<JpegErrors*>(a_info->err);
  if (a_level < 0 && a_info->err->msg_code == JWRN_JPEG_EOF) errors->cutShort = true;
}

// Nothing with a destructor lives between setjmp and a longjmp to it.
video::IImage* DecodeJpeg(video::IVideoDriver* a_driver, const unsigned char* a_bytes, size_t a_size,
                          std::string* a_why) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  errors.cutShort = false;
  errors.message[0] = '\0';
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegFails;
  errors.manager.emit_message = JpegSays;
  video::IImage* volatile image = nullptr;
  std::vector<unsigned char> cmyk;
  if (setjmp(errors.back)) {
    jpeg_destroy_decompress(&info);
    if (image) image->drop();
    *a_why = errors.message;
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, a_bytes, static_cast<unsigned long>(a_size));
  jpeg_read_header(&info, TRUE);
  if (info.image_width == 0 || info.image_height == 0 || info.image_width > kMaxSide || info.image_height > kMaxSide) {
    jpeg_destroy_decompress(&info);
    *a_why = "its size is not a picture's size";
    return nullptr;
  }
  const bool inkColours = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = inkColours ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&info);
  image = a_driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(info.output_width, info.output_height));
  if (!image) {
    jpeg_destroy_decompress(&info);
    *a_why = "no memory for it";
    return nullptr;
  }
  unsigned char* pixels = static_cast<unsigned char*>(image->lock());
  const size_t stride = info.output_width * 4u;
  if (inkColours) cmyk.resize(stride);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = pixels + stride * info.output_scanline;
    JSAMPROW target = inkColours ? cmyk.data() : row;
    jpeg_read_scanlines(&info, &target, 1);
    // Inverted ink, as photo editors write it: each colour is its ink times black.
    for (size_t x = 0; inkColours && x < info.output_width; ++x) {
      const unsigned char* ink = &cmyk[x * 4];
      row[x * 4 + 0] = static_cast<unsigned char>(ink[2] * ink[3] / 255);
      row[x * 4 + 1] = static_cast<unsigned char>(ink[1] * ink[3] / 255);
      row[x * 4 + 2] = static_cast<unsigned char>(ink[0] * ink[3] / 255);
      row[x * 4 + 3] = 255;
    }
  }
  image->unlock();
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  if (errors.cutShort) {
    image->drop();
    *a_why = "it is cut short";
    return nullptr;
  }
  return image;
}

class CheckedLoader : public video::IImageLoader {
 public:
  explicit CheckedLoader(video::IVideoDriver* a_driver) : m_driver(a_driver) {
    // The engine's own loaders, taken before this one joins them.
    for (u32 i = 0; i < a_driver->getImageLoaderCount(); ++i) {
      video::IImageLoader* loader = a_driver->getImageLoader(i);
      if (!m_bmp && loader->isALoadableFileExtension("x.bmp")) m_bmp = loader;
      if (!m_tga && loader->isALoadableFileExtension("x.tga")) m_tga = loader;
    }
  }

  bool isALoadableFileExtension(const io::path& a_name) const override { return ByName(a_name.c_str()) != NONE; }

  bool isALoadableFileFormat(io::IReadFile* a_file) const override {
    unsigned char start[8] = {};
    const s32 got = a_file->read(start, sizeof start);
    return got > 0 && ByContent(start, static_cast<size_t>(got)) != NONE;
  }

  video::IImage* loadImage(io::IReadFile* a_file) const override {
    s_damaged = false;
    const long size = a_file->getSize();
    if (size <= 0 || static_cast<unsigned long>(size) > kMaxFileBytes)
      return Damaged(size <= 0 ? "it is empty" : "it is too large");
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    a_file->seek(0);
    if (a_file->read(bytes.data(), static_cast<u32>(size)) != size) return Damaged("it cannot be read whole");
    Format format = ByContent(bytes.data(), bytes.size());
    if (format == NONE) format = ByName(a_file->getFileName().c_str());
    std::string why;
    video::IImage* image = nullptr;
    switch (format) {
      case PNG:
        image = DecodePng(m_driver, bytes.data(), bytes.size(), &why);
        break;
      case JPEG:
        image = DecodeJpeg(m_driver, bytes.data(), bytes.size(), &why);
        break;
      case BMP:
      case TGA:
        why = format == BMP ? BmpProblem(bytes.data(), bytes.size()) : TgaProblem(bytes.data(), bytes.size());
        if (why.empty()) image = Delegate(format == BMP ? m_bmp : m_tga, a_file, &why);
        break;
      case NONE:
        why = "it is no picture the player reads";
        break;
    }
    return image ? image : Damaged(why);
  }

 private:
  video::IImage* Delegate(video::IImageLoader* a_loader, io::IReadFile* a_file, std::string* a_why) const {
    a_file->seek(0);
    video::IImage* image = a_loader ? a_loader->loadImage(a_file) : nullptr;
    if (!image) *a_why = "the loader could not read it";
    return image;
  }

  // Anything but nothing: nothing would hand the file to the engine's loaders.
  video::IImage* Damaged(const std::string& a_why) const {
    s_damaged = true;
    s_why = a_why;
    video::IImage* blank = m_driver->createImage(video::ECF_A8R8G8B8, core::dimension2d<u32>(1, 1));
    if (blank) blank->fill(video::SColor(0, 0, 0, 0));
    return blank;
  }

  video::IVideoDriver* m_driver;  // owns this loader
  video::IImageLoader* m_bmp = nullptr;
  video::IImageLoader* m_tga = nullptr;
};

}  // namespace

void graImageLoader::Install(video::IVideoDriver* a_driver) {
  if (!a_driver) return;
  CheckedLoader* loader = new CheckedLoader(a_driver);
  a_driver->addExternalImageLoader(loader);
  loader->drop();
}

video::ITexture* graImageLoader::GetTexture(video::IVideoDriver* a_driver, const char* a_name) {
  if (!a_driver || !a_name || !*a_name) return nullptr;
  Forget();
  video::ITexture* texture = a_driver->getTexture(a_name);
  std::string why;
  if (!texture || !Damaged(&why)) return texture;
  a_driver->removeTexture(texture);
  static std::set<std::string> named;
  if (named.insert(a_name).second)
    gConsole::Line("%s is damaged: %s, so it was not loaded", gConsole::Quote(a_name).c_str(), why.c_str());
  return nullptr;
}

bool graImageLoader::Damaged(std::string* a_why) {
  if (s_damaged && a_why) *a_why = s_why;
  return s_damaged;
}

void graImageLoader::Forget() { s_damaged = false; }

std::string graImageLoader::Problem(const unsigned char* a_bytes, size_t a_size, const std::string& a_name) {
  Format format = ByContent(a_bytes, a_size);
  if (format == NONE) format = ByName(a_name);
  switch (format) {
    case BMP:
      return BmpProblem(a_bytes, a_size);
    case TGA:
      return TgaProblem(a_bytes, a_size);
    default:
      return "";
  }
}

// JPEG is decoded here too, but a progressive file can hold thousands of scans that libjpeg
// works through one by one; the trial's time limit is what names such a file, so JPEG
// keeps its trial.
bool graImageLoader::DecodesAlone(const unsigned char* a_bytes, size_t a_size, const std::string& a_name) {
  Format format = ByContent(a_bytes, a_size);
  if (format == NONE) format = ByName(a_name);
  return format == PNG;
}
