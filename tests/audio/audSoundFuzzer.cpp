// Feeds arbitrary bytes to the sound decoder as a package file. A run whose first corpus
// folder is empty starts from made-up valid streams (mono, stereo, six channels, a chain
// whose second link changes format), so that mutations reach deep into real streams as well
// as the container. Besides the sanitizers' checks, a decoded sound must be whole frames of
// a format OpenAL takes.
#include <irrlicht.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "audio/audSound.h"
#include "tests/audio/audOggMaker.h"

namespace {

class MemoryFile : public irr::io::IReadFile {
 public:
  MemoryFile(const uint8_t* a_data, size_t a_size) : m_data(a_data), m_size(static_cast<long>(a_size)) {}
  irr::s32 read(void* a_buffer, irr::u32 a_bytes) override {
    long n = m_size - m_pos;
    if (static_cast<long>(a_bytes) < n) n = static_cast<long>(a_bytes);
    if (n <= 0) return 0;
    std::memcpy(a_buffer, m_data + m_pos, static_cast<size_t>(n));
    m_pos += n;
    return static_cast<irr::s32>(n);
  }
  bool seek(long a_to, bool a_relative) override {
    const long to = a_relative ? m_pos + a_to : a_to;
    if (to < 0 || to > m_size) return false;
    m_pos = to;
    return true;
  }
  long getSize() const override { return m_size; }
  long getPos() const override { return m_pos; }
  const irr::io::path& getFileName() const override { return m_name; }

 private:
  const uint8_t* m_data;
  long m_size;
  long m_pos = 0;
  irr::io::path m_name = "fuzz.ogg";
};

void Check(bool a_ok) {
  if (!a_ok) std::abort();
}

void WriteSeeds(const std::filesystem::path& a_folder) {
  using namespace audTest;
  auto put = [&](const char* a_name, const std::string& a_bytes) {
    std::ofstream(a_folder / a_name, std::ios::binary) << a_bytes;
  };
  put("mono.ogg", ToneOgg(1, 8000, 0.05f));
  put("stereo.ogg",
      EncodeOgg(2, 11025, 600, [](int c, int f) { return c ? Noise(0.2f, f) : Sine(0.4f, 440, 11025, f); }));
  put("six.ogg", EncodeOgg(6, 8000, 400, [](int c, int f) { return Sine(0.1f * c, 200.0f * (c + 1), 8000, f); }));
  put("chain.ogg", ToneOgg(1, 8000, 0.03f) + EncodeOgg(
                                                 2, 8000, 240, [](int, int f) { return Noise(0.3f, f); }, 2));
}

}  // namespace

// libvorbisfile 1.3.7 loses its first link's serial-number list (8 bytes) when
// ov_open_callbacks fails on a damaged header page, before any of our code can reach it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbisfile.so\n"; }

extern "C" int LLVMFuzzerInitialize(int* a_argc, char*** a_argv) {
  for (int i = 1; i < *a_argc; ++i) {
    const char* arg = (*a_argv)[i];
    if (arg[0] == '-') continue;
    std::error_code error;
    if (std::filesystem::is_directory(arg, error) && std::filesystem::is_empty(arg, error)) WriteSeeds(arg);
    break;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  MemoryFile file(a_data, a_size);
  audSound sound;
  if (!sound.Decode(&file)) return 0;
  Check(sound.format == 0x1101 || sound.format == 0x1103);
  Check(sound.frequency > 0);
  Check(sound.samples.size() % (sound.format == 0x1101 ? 2 : 4) == 0);
  return 0;
}
