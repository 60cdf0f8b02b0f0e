#pragma once
// A sound of the game: an Ogg Vorbis file of the package decoded whole and uploaded into one
// OpenAL buffer. Sounds are resource handles that scripts hold as opaque values; they live
// until the device closes, which deletes their buffers after every source is gone.
#include <vector>

#include "binding/gmResourceHandle.h"

namespace irr {
namespace io {
class IReadFile;
}
}  // namespace irr

class audSound : public gmResourceHandle {
 public:
  static constexpr int kHandleKind = GM_HANDLE_SOUND;
  // ov_read's chunk: large enough that a typical effect decodes in a few calls.
  static constexpr int kScratchBytes = 327680;

  audSound() : gmResourceHandle(kHandleKind) {}

  // Decodes the whole stream of a_file (read from its current position) into 16-bit
  // little-endian PCM in `samples`, with `format` and `frequency` set; false when the file is
  // not Ogg Vorbis. Only the links that share the first link's channel count and rate are
  // kept, since one buffer holds one format; of more than two channels the front left and
  // front right are kept. A decode error part-way keeps what was decoded before it.
  bool Decode(irr::io::IReadFile* a_file);

  // Makes the buffer and uploads the samples, which are then freed. Nothing happens without
  // a current OpenAL context or without samples (the buffer stays 0, which plays nothing).
  void Upload();

  unsigned buffer = 0;
  int format = 0;     // AL_FORMAT_MONO16 or AL_FORMAT_STEREO16 once decoded
  int frequency = 0;  // Hz
  std::vector<unsigned char> samples;
};
