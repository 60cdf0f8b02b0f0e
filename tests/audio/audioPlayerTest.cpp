// The player as a user runs it, headless, with OpenAL Soft's wave driver standing in for a
// sound card: it mixes in real time into a WAV file (its header is written when the device
// closes, hence SIGTERM once the game prints that it is done), which sox then measures window by window. Windows are
// placed from what the recording shows, since the script starts a little after the file does and its timers come late
// when the machine is busy.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/audio/audOggMaker.h"
#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

// Objects without physics or graphics, so that they stand at the listener.
const char* const kStandIns =
    "global _ScePhysics = function(s) { return null; };"
    "global _SceGraphics = function(s) { return null; };"
    "global _ObjPhysics = function(o) { return null; };"
    "global _ObjGraphics = function(o) { return null; };"
    "NewScene(\"level\"); level.NewObject(\"ball\");\n";

// The script line that ends a run a_ms milliseconds of the game's clock after it started.
std::string DoneAfter(int a_ms) {
  return "global done = function(t) { print(\"done\"); }; Clock.AddTimer(TIMER_ONCE, " + std::to_string(a_ms) +
         ", \"done\", table());";
}

struct Level {
  double rms;
  double frequency;
};

class AudioPlayerTest : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(OMBRIX_SOX).empty()) GTEST_SKIP() << "sox is not installed";
    std::string pattern = (fs::temp_directory_path() / "ombrix-audio-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    fs::create_directories(dir / "game");
    std::ofstream(dir / "wave.conf") << "[general]\ndrivers = wave\nchannels = stereo\nfrequency = 44100\n"
                                        "sample-type = int16\n[wave]\nfile = "
                                     << (dir / "out.wav").string() << "\n";
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir.empty()) fs::remove_all(dir, ignored);
  }

  void Write(const std::string& a_name, const std::string& a_bytes) {
    std::ofstream(dir / "game" / a_name, std::ios::binary) << a_bytes;
  }

  // Runs the game until it prints "done" (a timer of the script's own), then stops it with
  // SIGTERM, which closes the device and writes the recording's header; returns its standard
  // output without that line. a_environment chooses the sound device (the wave recorder by
  // default).
  std::string Play(const std::string& a_script, std::vector<std::string> a_environment = {}, bool a_standIns = true) {
    Write("start.qv", (a_standIns ? std::string(kStandIns) : std::string()) + a_script);
    testSupport::PlayerOptions options;
    options.dir = dir;
    options.args = {"--nowindow", "--dev", "game"};
    options.env = {"DISPLAY", "ALSOFT_DRIVERS"};
    if (a_environment.empty()) a_environment = {"ALSOFT_CONF=" + (dir / "wave.conf").string()};
    options.env.insert(options.env.end(), a_environment.begin(), a_environment.end());
    options.stopAfter = "done \n";
    options.limitSeconds = 60;
    const testSupport::PlayerRun run = testSupport::RunPlayer(options);
    EXPECT_TRUE(run.stopped) << run.out << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    std::string out = run.out;
    const std::string::size_type done = out.rfind("done \n");
    if (done != std::string::npos) out.erase(done, 6);
    return out;
  }

  std::string Read(const std::string& a_name) {
    std::ifstream in(dir / a_name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // RMS amplitude (full scale 1) and sox's rough frequency of one channel (1 left, 2
  // right) from a_start for a_length seconds.
  Level Measure(int a_channel, double a_start, double a_length) {
    std::ostringstream command;
    command << "'" OMBRIX_SOX "' '" << (dir / "out.wav").string() << "' -n trim " << a_start << " " << a_length
            << " remix " << a_channel << " stat 2>&1";
    FILE* pipe = popen(command.str().c_str(), "r");
    Level level{-1, -1};
    if (!pipe) return level;
    char line[256];
    while (std::fgets(line, sizeof(line), pipe)) {
      std::sscanf(line, "RMS amplitude: %lf", &level.rms);
      std::sscanf(line, "RMS     amplitude: %lf", &level.rms);
      std::sscanf(line, "Rough   frequency: %lf", &level.frequency);
    }
    pclose(pipe);
    return level;
  }

  // The spans of the file, in seconds, where a channel (1 left, 2 right) is heard: runs of
  // 10 ms blocks whose RMS passes 0.02. Timers fire late when the machine is busy, so tests
  // that time what scripts did find it in the recording instead.
  std::vector<std::pair<double, double>> HeardSpans(int a_channel) {
    const std::string bytes = Read("out.wav");
    std::vector<std::pair<double, double>> spans;
    size_t at = 12, data = 0, end = 0;
    while (at + 8 <= bytes.size()) {
      uint32_t size = 0;
      std::memcpy(&size, bytes.data() + at + 4, 4);
      if (bytes.compare(at, 4, "data") == 0) {
        data = at + 8;
        end = std::min(bytes.size(), data + size);
        break;
      }
      at += 8 + size;
    }
    const size_t block = 441;
    bool heard = false;
    for (size_t frame = 0; data + (frame + block) * 4 <= end; frame += block) {
      double sum = 0;
      for (size_t i = frame; i < frame + block; ++i) {
        int16_t sample;
        std::memcpy(&sample, bytes.data() + data + i * 4 + (a_channel - 1) * 2, 2);
        sum += double(sample) * sample;
      }
      const bool loud = std::sqrt(sum / block) / 32768.0 > 0.02;
      if (loud && !heard) spans.emplace_back(frame / 44100.0, 0.0);
      if (loud) spans.back().second = (frame + block) / 44100.0;
      heard = loud;
    }
    return spans;
  }

  fs::path dir;
};

// A mono sound at the listener is centred: both channels alike, and silent once it ends.
TEST_F(AudioPlayerTest, CentredToneOnBothChannelsUntilItEnds) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 0.6f));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);" + DoneAfter(2000));
  for (int channel : {1, 2}) {
    const auto spans = HeardSpans(channel);
    ASSERT_EQ(spans.size(), 1u) << channel;
    EXPECT_NEAR(spans[0].second - spans[0].first, 0.6, 0.03);
  }
  const double start = HeardSpans(1)[0].first;
  const Level left = Measure(1, start + 0.1, 0.4), right = Measure(2, start + 0.1, 0.4);
  EXPECT_GT(left.rms, 0.05);
  EXPECT_NEAR(right.rms, left.rms, left.rms * 0.05);
  EXPECT_NEAR(left.frequency, 440, 22);
}

// A stereo sound is not placed in space: what is on its left stays on the left.
TEST_F(AudioPlayerTest, StereoSoundsAreNotPanned) {
  Write("left.ogg", audTest::EncodeOgg(2, 44100, 88200, [](int c, int f) {
          return c == 0 ? audTest::Sine(0.5f, 440, 44100, f) : 0.0f;
        }));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"left.ogg\")); s.Play(1);" + DoneAfter(2000));
  const auto spans = HeardSpans(1);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_TRUE(HeardSpans(2).empty());
  const Level left = Measure(1, spans[0].first, spans[0].second - spans[0].first),
              right = Measure(2, spans[0].first, spans[0].second - spans[0].first);
  EXPECT_GT(left.rms, 0.1);
  EXPECT_LT(right.rms, left.rms * 0.02);
}

// With real bodies: the listener follows one, a source follows another placed to its left
// (the listener faces +Z, up +Y), and the left channel carries it.
TEST_F(AudioPlayerTest, ASourceLeftOfTheListenerIsLouderOnTheLeft) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  Play(
      "NewScene(\"level\"); global ear = level.NewObject(\"ear\"); Audio.Listener(ear.Physics);"
      "global box = level.NewObject(\"box\"); box.Physics.Position(-100, 0, 0);"
      "global s = AudioSource(box); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);" +
          DoneAfter(2000),
      {}, false);
  const auto spans = HeardSpans(1);
  ASSERT_FALSE(spans.empty());
  // From a quarter of a second in: the first frames mix before the first pose copy.
  const double start = spans[0].first + 0.25;
  const Level left = Measure(1, start, 0.5), right = Measure(2, start, 0.5);
  EXPECT_GT(left.rms, 0.05);
  EXPECT_GT(left.rms, right.rms * 1.5) << left.rms << " " << right.rms;
}

// Stopped part-way and played again, a 1.5 s sound plays whole from its start again, where a
// resumed one would play only what was left.
TEST_F(AudioPlayerTest, PlayAfterStopStartsAgainFromTheBeginning) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.5f));
  Play(
      "global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);"
      "global stop = function(t) { s.Play(0); }; global again = function(t) { s.Play(1); };"
      "Clock.AddTimer(TIMER_ONCE, 300, \"stop\", table()); Clock.AddTimer(TIMER_ONCE, 700, \"again\", table());" +
      DoneAfter(3000));
  const auto spans = HeardSpans(1);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_LT(spans[0].second - spans[0].first, 1.2);
  EXPECT_NEAR(spans[1].second - spans[1].first, 1.5, 0.03);
}

TEST_F(AudioPlayerTest, GainScalesTheLevelAndPitchTheFrequency) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  Play(
      "global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Loop(1); s.Play(1);"
      "global change = function(t) { s.Gain(0.25); s.Pitch(2); };"
      "Clock.AddTimer(TIMER_ONCE, 900, \"change\", table());" +
      DoneAfter(2500));
  const auto spans = HeardSpans(1);
  ASSERT_EQ(spans.size(), 1u);
  // The change is heard late when the machine is busy: the first half second against the
  // recording's last.
  const Level before = Measure(1, spans[0].first + 0.05, 0.5), after = Measure(1, spans[0].second - 0.6, 0.5);
  EXPECT_GT(before.rms, 0.05);
  EXPECT_NEAR(after.rms / before.rms, 0.25, 0.03);
  EXPECT_NEAR(before.frequency, 440, 22);
  EXPECT_NEAR(after.frequency, 880, 44);
}

// The source goes with its object; the wrapper the script kept calls nothing, and neither
// does a source made afterwards on the component the script kept.
TEST_F(AudioPlayerTest, ADeletedObjectFallsSilent) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  const std::string out = Play(
      "global tone = Audio.AddSound(\"tone.ogg\");"
      "global kept = AudioSource(level.ball); kept.Load(tone); kept.Loop(1); kept.Play(1);"
      "global component = level.ball.Audio;"
      "global gone = function(t) { level.ball.Delete(); };"
      "global poke = function(t) { kept.Load(tone); kept.Play(1); kept.Gain(1);"
      "  late = _ObjAudSource(component); print(\"poked\", late); };"
      "Clock.AddTimer(TIMER_ONCE, 300, \"gone\", table()); Clock.AddTimer(TIMER_ONCE, 600, \"poke\", table());" +
      DoneAfter(2000));
  EXPECT_NE(out.find("poked null"), std::string::npos) << out;
  // Heard once, until the object went, and never again.
  const auto spans = HeardSpans(1);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_GT(spans[0].second - spans[0].first, 0.1);
  EXPECT_LT(Measure(1, spans[0].second + 0.05, 0.5).rms, 0.001);
}

// Without a sound device, and with sounds that are missing or not Ogg Vorbis, the game
// says so and goes on.
TEST_F(AudioPlayerTest, NoDeviceAndBadSoundsDoNotStopTheGame) {
  Write("bad.ogg", "OggS, but nothing more");
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 0.2f));
  const std::string script =
      "global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"nothere.ogg\"));"
      "s.Load(Audio.AddSound(\"bad.ogg\")); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);"
      "global alive = function(t) { print(\"alive\"); };"
      "Clock.AddTimer(TIMER_ONCE, 300, \"alive\", table());" +
      DoneAfter(400);
  const std::string messages =
      "nothere.ogg not found !\n"
      "bad.ogg doesn't seem to be a valid OggVorbis file.\n"
      "Loaded script: start.qv\n"
      "alive \n";
  // No driver of that name: OpenAL finds no device, as on a machine without a sound card.
  EXPECT_EQ(Play(script, {"ALSOFT_DRIVERS=none"}), "Sound Device Not Found\n" + messages);
  EXPECT_EQ(Play(script), messages);
}

}  // namespace
