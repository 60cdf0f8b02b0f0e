// Three figures of the audio module, from a build without sanitizers:
//   build/bench/audio/audio_bench
// OpenAL Soft runs its wave driver into a scratch file, mixing in real time as a sound card
// would, so the sources below are really mixed while they are moved.
// 1. 256 looping sources on 16 objects, moved every frame with their objects, and the
//    listener step: the mean time per frame (target at most 0.5 ms), against the same
//    OpenAL calls made straight from a flat array.
// 2. Decoding a 20 s stereo sound: how many times faster than real time (target at least
//    50), against vorbisfile decoding into a fixed buffer that keeps nothing.
// 3. Play heard on the wave file's timeline: for 20 short plays, how far the first audible
//    sample lies from the moment of the call (target within one mixing block, 1024 frames
//    or about 23 ms, either way: a call just before a block is mixed is heard at its start).
#include <irrlicht.h>
#include <stdlib.h>
#include <unistd.h>
#include <vorbis/vorbisfile.h>

#include <AL/al.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/_gAudio.h"
#include "audio/audSound.h"
#include "audio/objAudSource.h"
#include "audio/objAudio.h"
#include "scene/gPose.h"
#include "tests/audio/audOggMaker.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a_from, Clock::time_point a_to) {
  return std::chrono::duration<double>(a_to - a_from).count();
}

audSound* Decoded(irr::io::IFileSystem* a_files, std::string a_bytes, bool a_upload) {
  irr::io::IReadFile* file =
      a_files->createMemoryReadFile(a_bytes.data(), static_cast<irr::s32>(a_bytes.size()), "bench.ogg");
  audSound* sound = new audSound();
  sound->Decode(file);
  file->drop();
  if (a_upload) sound->Upload();
  return sound;
}

struct Memory {
  const std::string* bytes;
  size_t at = 0;
};
size_t MemoryRead(void* a_to, size_t a_size, size_t a_count, void* a_memory) {
  Memory* m = static_cast<Memory*>(a_memory);
  const size_t n = std::min(a_size * a_count, m->bytes->size() - m->at);
  std::memcpy(a_to, m->bytes->data() + m->at, n);
  m->at += n;
  return n / a_size;
}
int MemorySeek(void* a_memory, ogg_int64_t a_offset, int a_whence) {
  Memory* m = static_cast<Memory*>(a_memory);
  const long long to = a_whence == SEEK_SET   ? a_offset
                       : a_whence == SEEK_CUR ? m->at + a_offset
                                              : m->bytes->size() + a_offset;
  if (to < 0 || to > static_cast<long long>(m->bytes->size())) return -1;
  m->at = static_cast<size_t>(to);
  return 0;
}
long MemoryTell(void* a_memory) { return static_cast<long>(static_cast<Memory*>(a_memory)->at); }

// vorbisfile alone: the whole stream through one scratch buffer, nothing kept.
void DecodePlain(const std::string& a_bytes) {
  Memory memory{&a_bytes};
  OggVorbis_File stream;
  const ov_callbacks callbacks = {&MemoryRead, &MemorySeek, nullptr, &MemoryTell};
  if (ov_open_callbacks(&memory, &stream, nullptr, 0, callbacks) != 0) return;
  static char scratch[audSound::kScratchBytes];
  int link = 0;
  while (ov_read(&stream, scratch, sizeof(scratch), 0, 2, 1, &link) > 0) {}
  ov_clear(&stream);
}

void SourcesPerFrame(irr::io::IFileSystem* a_files) {
  audSound* loop = Decoded(a_files, audTest::ToneOgg(1, 44100, 1.0f), true);
  std::vector<objAudio*> objects;
  for (int o = 0; o < 16; ++o) {
    objAudio* audio = new objAudio();
    for (int s = 0; s < 16; ++s) {
      objAudSource* source = new objAudSource(audio);
      source->Load(loop);
      source->Loop(1);
      source->Gain(0.01f);
      source->Play(1);
    }
    objects.push_back(audio);
  }
  int made = 0;
  for (objAudio* audio : objects)
    for (int s = 0; s < audio->sources.count; ++s) made += static_cast<objAudSource*>(audio->sources.Get(s))->name != 0;

  static gPose body;
  _gAudio::bodyPose = [](const objPhysics*) { return body; };
  _gAudio::instance->Listener(reinterpret_cast<objPhysics*>(&body));
  const int frames = 2000;
  std::vector<gPose> poses(objects.size());
  auto ours = [&]() {
    const Clock::time_point start = Clock::now();
    for (int f = 0; f < frames; ++f) {
      for (size_t o = 0; o < objects.size(); ++o) {
        poses[o].origin[0] = float(o * 10 + f % 7);
        poses[o].velocity[2] = float(f % 3);
        objects[o]->Follow(poses[o]);
      }
      body.origin[1] = float(f % 5);
      _gAudio::instance->MoveListener();
    }
    return Seconds(start, Clock::now()) / frames;
  };
  std::vector<ALuint> names;
  for (objAudio* audio : objects)
    for (int s = 0; s < audio->sources.count; ++s)
      names.push_back(static_cast<objAudSource*>(audio->sources.Get(s))->name);
  auto flat = [&]() {
    const Clock::time_point start = Clock::now();
    for (int f = 0; f < frames; ++f) {
      for (size_t i = 0; i < names.size(); ++i) alSource3f(names[i], AL_POSITION, float(i / 16 * 10 + f % 7), 0, 0);
      for (size_t i = 0; i < names.size(); ++i) alSource3f(names[i], AL_VELOCITY, 0, 0, float(f % 3));
      alListener3f(AL_POSITION, 0, float(f % 5), 0);
      alListener3f(AL_VELOCITY, 0, 0, 0);
      const float orientation[6] = {0, 0, -1, 0, 1, 0};
      alListenerfv(AL_ORIENTATION, orientation);
    }
    return Seconds(start, Clock::now()) / frames;
  };
  double best = 1e9, bestFlat = 1e9;
  for (int run = 0; run < 5; ++run) {
    best = std::min(best, ours());
    bestFlat = std::min(bestFlat, flat());
  }
  std::printf("1. %d playing looping sources on %zu objects, moved each frame with the listener:\n", made,
              objects.size());
  std::printf("   %.3f ms per frame (target <= 0.5); the same calls from a flat array %.3f ms; ratio %.2f\n",
              best * 1e3, bestFlat * 1e3, best / bestFlat);
  _gAudio::instance->Forget(reinterpret_cast<objPhysics*>(&body));
  for (objAudio* audio : objects) delete audio;
}

void Decoding(irr::io::IFileSystem* a_files) {
  const double length = 20.0;
  const std::string bytes = audTest::EncodeOgg(2, 44100, int(44100 * length), [](int c, int f) {
    return audTest::Sine(0.3f, 440.0f + 220 * c, 44100, f) + audTest::Noise(0.05f, f);
  });
  double best = 1e9, bestPlain = 1e9;
  for (int run = 0; run < 5; ++run) {
    Clock::time_point start = Clock::now();
    delete Decoded(a_files, bytes, false);
    best = std::min(best, Seconds(start, Clock::now()));
    start = Clock::now();
    DecodePlain(bytes);
    bestPlain = std::min(bestPlain, Seconds(start, Clock::now()));
  }
  std::printf("2. decoding %.0f s of stereo (%zu KiB of Ogg): %.0fx real time (target >= 50);\n", length,
              bytes.size() / 1024, length / best);
  std::printf("   vorbisfile alone %.0fx; ratio of times %.2f\n", length / bestPlain, best / bestPlain);
}

// The first sample at or after a_from whose magnitude passes a_threshold, or -1.
long FirstLoud(const std::vector<short>& a_left, long a_from, int a_threshold) {
  for (long i = std::max(0L, a_from); i < static_cast<long>(a_left.size()); ++i)
    if (std::abs(a_left[i]) > a_threshold) return i;
  return -1;
}

std::vector<short> LeftChannel(const fs::path& a_wave) {
  std::ifstream in(a_wave, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<short> left;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    uint32_t size = 0;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) {
      const size_t end = std::min(bytes.size(), at + 8 + size);
      for (size_t i = at + 8; i + 4 <= end; i += 4) {
        short l;
        std::memcpy(&l, bytes.data() + i, 2);
        left.push_back(l);
      }
      break;
    }
    at += 8 + size;
  }
  return left;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("ombrix-audio-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path wave = dir / "out.wav";
  std::ofstream(dir / "wave.conf")
      << "[general]\ndrivers = wave\nchannels = stereo\nfrequency = 44100\nsample-type = int16\n"
         "[wave]\nfile = "
      << wave.string() << "\n";
  setenv("ALSOFT_CONF", (dir / "wave.conf").c_str(), 1);
  unsetenv("ALSOFT_DRIVERS");

  irr::IrrlichtDevice* device = irr::createDevice(irr::video::EDT_NULL);
  irr::io::IFileSystem* files = device->getFileSystem();
  _gAudio::instance = new _gAudio();
  if (!_gAudio::instance->Open()) return 1;
  // The mixer starts when the context is made: the file's sample 0 is about now.
  const Clock::time_point timeline = Clock::now();

  SourcesPerFrame(files);
  Decoding(files);

  audSound* blip = Decoded(files, audTest::ToneOgg(1, 44100, 0.05f, 1000.0f, 0.8f), true);
  objAudio audio;
  objAudSource* source = new objAudSource(&audio);
  source->Load(blip);
  std::vector<double> calls;
  for (int i = 0; i < 20; ++i) {
    // Spread over the mixing blocks, so that calls land early and late in them.
    std::this_thread::sleep_for(std::chrono::microseconds(150000 + 1700 * i));
    calls.push_back(Seconds(timeline, Clock::now()));
    source->Play(1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  delete _gAudio::instance;

  const std::vector<short> left = LeftChannel(wave);
  std::vector<double> offsets;
  for (double call : calls) {
    const long first = FirstLoud(left, long((call - 0.05) * 44100), 300);
    if (first >= 0) offsets.push_back(first / 44100.0 - call);
  }
  std::sort(offsets.begin(), offsets.end());
  if (offsets.empty()) {
    std::printf("3. no play was heard in the wave file\n");
  } else {
    std::printf(
        "3. %zu plays heard on the wave file's timeline from %+.1f ms to %+.1f ms of their call, median %+.1f ms\n",
        offsets.size(), offsets.front() * 1e3, offsets.back() * 1e3, offsets[offsets.size() / 2] * 1e3);
    std::printf("   (target within one mixing block, 23.2 ms, either way)\n");
  }
  device->drop();
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return 0;
}
