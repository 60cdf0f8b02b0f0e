// The player as a user runs it, headless, with OpenAL Soft's wave driver standing in for a
// sound card: it mixes in real time into a WAV file (its header is written when the device
// closes, hence SIGTERM), which sox then measures window by window. Windows keep a margin
// of a few frames around each scripted change, since the file starts when the device opens,
// a little before the start script runs.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/audio/audOggMaker.h"

namespace {

namespace fs = std::filesystem;

// Objects without physics or graphics, so that they stand at the listener.
const char* const kStandIns =
    "global _ScePhysics = function(s) { return null; };"
    "global _SceGraphics = function(s) { return null; };"
    "global _ObjPhysics = function(o) { return null; };"
    "global _ObjGraphics = function(o) { return null; };"
    "NewScene(\"level\"); level.NewObject(\"ball\");\n";

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

  // Runs the game for a_seconds and returns its standard output; a_environment chooses
  // the sound device.
  std::string Play(const std::string& a_script, double a_seconds = 2.0,
                   const std::string& a_environment = "") {
    Write("start.qv", std::string(kStandIns) + a_script);
    const std::string environment =
        a_environment.empty() ? "ALSOFT_CONF='" + (dir / "wave.conf").string() + "'" : a_environment;
    std::ostringstream command;
    command << "cd '" << dir.string() << "' && env -u DISPLAY -u ALSOFT_DRIVERS " << environment
            << " timeout --preserve-status -s TERM " << a_seconds << " '" OMBRIX_PLAYER
               "' --nowindow --dev game >stdout.txt 2>stderr.txt";
    const int raw = std::system(command.str().c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << Read("stderr.txt");
    return Read("stdout.txt");
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

  fs::path dir;
};

// A mono sound at the listener is centred: both channels alike, and silent once it ends.
TEST_F(AudioPlayerTest, CentredToneOnBothChannelsUntilItEnds) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 0.6f));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);");
  const Level left = Measure(1, 0.15, 0.3), right = Measure(2, 0.15, 0.3);
  EXPECT_GT(left.rms, 0.05);
  EXPECT_NEAR(right.rms, left.rms, left.rms * 0.05);
  EXPECT_NEAR(left.frequency, 440, 22);
  EXPECT_LT(Measure(1, 1.0, 0.6).rms, 0.001);
  EXPECT_LT(Measure(2, 1.0, 0.6).rms, 0.001);
}

// A stereo sound is not placed in space: what is on its left stays on the left.
TEST_F(AudioPlayerTest, StereoSoundsAreNotPanned) {
  Write("left.ogg", audTest::EncodeOgg(2, 44100, 88200, [](int c, int f) {
          return c == 0 ? audTest::Sine(0.5f, 440, 44100, f) : 0.0f;
        }));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"left.ogg\")); s.Play(1);");
  const Level left = Measure(1, 0.2, 1.0), right = Measure(2, 0.2, 1.0);
  EXPECT_GT(left.rms, 0.1);
  EXPECT_LT(right.rms, left.rms * 0.02);
}

// Stopped after 0.3 s and played again at 0.7 s, a 0.8 s sound plays whole from the start
// again: it sounds until about 1.5 s, where a resumed one would have ended at 1.2 s. (Timer
// times count from the clock's start, a little before the device opens, so they fall a
// little earlier on the file's timeline.)
TEST_F(AudioPlayerTest, PlayAfterStopStartsAgainFromTheBeginning) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 0.8f));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Play(1);"
       "global stop = function(t) { s.Play(0); }; global again = function(t) { s.Play(1); };"
       "Clock.AddTimer(TIMER_ONCE, 300, \"stop\", table()); Clock.AddTimer(TIMER_ONCE, 700, \"again\", table());",
       2.2);
  EXPECT_GT(Measure(1, 0.05, 0.2).rms, 0.05);
  EXPECT_LT(Measure(1, 0.45, 0.15).rms, 0.001);
  EXPECT_GT(Measure(1, 1.22, 0.1).rms, 0.05);
  EXPECT_LT(Measure(1, 1.7, 0.3).rms, 0.001);
}

TEST_F(AudioPlayerTest, GainScalesTheLevelAndPitchTheFrequency) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  Play("global s = AudioSource(level.ball); s.Load(Audio.AddSound(\"tone.ogg\")); s.Loop(1); s.Play(1);"
       "global change = function(t) { s.Gain(0.25); s.Pitch(2); };"
       "Clock.AddTimer(TIMER_ONCE, 900, \"change\", table());",
       2.2);
  const Level before = Measure(1, 0.2, 0.5), after = Measure(1, 1.3, 0.5);
  EXPECT_GT(before.rms, 0.05);
  EXPECT_NEAR(after.rms / before.rms, 0.25, 0.03);
  EXPECT_NEAR(before.frequency, 440, 22);
  EXPECT_NEAR(after.frequency, 880, 44);
}

// The source goes with its object; the wrapper the script kept calls nothing, and neither
// does a source made afterwards on the component the script kept.
TEST_F(AudioPlayerTest, ADeletedObjectFallsSilent) {
  Write("tone.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  const std::string out =
      Play("global tone = Audio.AddSound(\"tone.ogg\");"
           "global kept = AudioSource(level.ball); kept.Load(tone); kept.Loop(1); kept.Play(1);"
           "global component = level.ball.Audio;"
           "global gone = function(t) { level.ball.Delete(); };"
           "global poke = function(t) { kept.Load(tone); kept.Play(1); kept.Gain(1);"
           "  late = _ObjAudSource(component); print(\"poked\", late); };"
           "Clock.AddTimer(TIMER_ONCE, 300, \"gone\", table()); Clock.AddTimer(TIMER_ONCE, 600, \"poke\", table());");
  EXPECT_NE(out.find("poked null"), std::string::npos) << out;
  EXPECT_GT(Measure(1, 0.05, 0.2).rms, 0.05);
  EXPECT_LT(Measure(1, 0.5, 1.2).rms, 0.001);
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
      "Clock.AddTimer(TIMER_ONCE, 300, \"alive\", table());";
  const std::string messages =
      "nothere.ogg not found !\n"
      "bad.ogg doesn't seem to be a valid OggVorbis file.\n"
      "Loaded script: start.qv\n"
      "alive \n";
  // No driver of that name: OpenAL finds no device, as on a machine without a sound card.
  EXPECT_EQ(Play(script, 1.0, "ALSOFT_DRIVERS=none"), "Sound Device Not Found\n" + messages);
  EXPECT_EQ(Play(script, 1.0), messages);
}

}  // namespace
