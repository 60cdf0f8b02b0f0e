#include "audio/audSound.h"

#include <AL/al.h>
#include <AL/alc.h>
#include <irrlicht.h>
#include <vorbis/vorbisfile.h>

#include <climits>
#include <cstring>

#include "audio/_gAudio.h"

namespace {

// The package file behind vorbisfile's callbacks. Reads stop at the end of the file
// without asking the file for more.
size_t ReadFile(void* a_buffer, size_t a_size, size_t a_count, void* a_file) {
  irr::io::IReadFile* file = static_cast<irr::io::IReadFile*>(a_file);
  if (a_size == 0 || file->getPos() >= file->getSize()) return 0;
  size_t want = a_size * a_count;
  if (a_count != 0 && want / a_count != a_size) return 0;
  if (want > static_cast<size_t>(INT_MAX)) want = static_cast<size_t>(INT_MAX);
  const irr::s32 got = file->read(a_buffer, static_cast<irr::u32>(want));
  return got > 0 ? static_cast<size_t>(got) / a_size : 0;
}

// Moving to the end ignores the offset: vorbisfile only ever asks for the end itself.
int SeekFile(void* a_file, ogg_int64_t a_offset, int a_whence) {
  irr::io::IReadFile* file = static_cast<irr::io::IReadFile*>(a_file);
  if (a_offset < LONG_MIN || a_offset > LONG_MAX) return -1;
  const long offset = static_cast<long>(a_offset);
  bool moved = false;
  switch (a_whence) {
    case SEEK_SET:
      moved = offset >= 0 && file->seek(offset, false);
      break;
    case SEEK_CUR:
      moved = file->getPos() + offset >= 0 && file->seek(offset, true);
      break;
    case SEEK_END:
      moved = file->seek(file->getSize(), false);
      break;
    default:
      return -1;
  }
  return moved ? static_cast<int>(file->getPos()) : -1;
}

// The package owns the file; the caller drops it.
int CloseFile(void*) { return 0; }

long TellFile(void* a_file) { return static_cast<irr::io::IReadFile*>(a_file)->getPos(); }

// Vorbis puts the centre between the front pair for three and for five to eight channels.
int FrontRightChannel(int a_channels) { return (a_channels == 3 || (a_channels >= 5 && a_channels <= 8)) ? 2 : 1; }

}  // namespace

bool audSound::Decode(irr::io::IReadFile* a_file) {
  samples.clear();
  if (!a_file) return false;
  const ov_callbacks callbacks = {&ReadFile, &SeekFile, &CloseFile, &TellFile};
  OggVorbis_File stream;
  // On failure vorbisfile frees what it made itself.
  if (ov_open_callbacks(a_file, &stream, nullptr, 0, callbacks) != 0) return false;

  // Opening a chained file leaves vorbisfile at the start of the last link; the sound
  // starts at the first.
  if (ov_seekable(&stream) && ov_pcm_tell(&stream) != 0 && ov_pcm_seek(&stream, 0) != 0) {
    ov_clear(&stream);
    return false;
  }
  const vorbis_info* info = ov_info(&stream, -1);
  const int channels = info ? info->channels : 0;
  const long rate = info ? info->rate : 0;
  if (channels < 1 || rate < 1 || rate > INT_MAX) {
    ov_clear(&stream);
    return false;
  }
  format = channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16;
  frequency = static_cast<int>(rate);

  const size_t inFrame = 2u * static_cast<size_t>(channels);
  const size_t outFrame = channels == 1 ? 2u : 4u;
  const int right = FrontRightChannel(channels);
  // alBufferData takes the size as an int.
  const size_t limit = (static_cast<size_t>(INT_MAX) / outFrame) * outFrame;
  std::vector<char> scratch(kScratchBytes);
  int firstLink = -1;
  for (;;) {
    int link = 0;
    const long got = ov_read(&stream, scratch.data(), kScratchBytes, /*bigendianp=*/0, /*word=*/2, /*sgned=*/1, &link);
    if (got <= 0) break;
    if (firstLink < 0) firstLink = link;
    if (link != firstLink) {
      const vorbis_info* now = ov_info(&stream, link);
      if (!now || now->channels != channels || now->rate != rate) break;
    }
    const size_t frames = static_cast<size_t>(got) / inFrame;
    const size_t room = (limit - samples.size()) / outFrame;
    const size_t kept = frames < room ? frames : room;
    const size_t at = samples.size();
    samples.resize(at + kept * outFrame);
    unsigned char* out = samples.data() + at;
    if (channels <= 2) {
      std::memcpy(out, scratch.data(), kept * outFrame);
    } else {
      for (size_t f = 0; f < kept; ++f) {
        const char* in = scratch.data() + f * inFrame;
        std::memcpy(out + f * 4, in, 2);
        std::memcpy(out + f * 4 + 2, in + 2 * right, 2);
      }
    }
    if (kept < frames) break;
  }
  ov_clear(&stream);
  return true;
}

void audSound::Upload() {
  if (samples.empty()) return;
  _gAudio::Settle();
  if (!alcGetCurrentContext()) return;
  alGetError();
  ALuint name = 0;
  alGenBuffers(1, &name);
  if (alGetError() != AL_NO_ERROR) name = 0;
  if (name) alBufferData(name, format, samples.data(), static_cast<ALsizei>(samples.size()), frequency);
  buffer = name;
  std::vector<unsigned char>().swap(samples);
}
