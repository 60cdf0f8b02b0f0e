// The audio module in-process on OpenAL Soft's null device (ALSOFT_DRIVERS=null), which
// keeps every source and buffer state without a sound card. Sounds are Ogg files made by
// the test; scripts drive the module through the player's own types and prelude.
#include <gtest/gtest.h>
#include <irrlicht.h>
#include <stdlib.h>

#include <AL/al.h>
#include <AL/alc.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/_gAudio.h"
#include "audio/audSound.h"
#include "audio/objAudSource.h"
#include "audio/objAudio.h"
#include "binding/gConsole.h"
#include "binding/gScriptMachine.h"
#include "host/gObjectComponents.h"
#include "platform/gFileSystem.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"
#include "tests/audio/audOggMaker.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines* s_console = nullptr;
void CaptureLine(const char* a_line) { s_console->push_back(a_line); }

struct Decoded {
  int format;
  int frequency;
  size_t frames;
  double rmsLeft;
  double rmsRight;
};

class AudioTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("ALSOFT_DRIVERS", "null", 1); }

  void SetUp() override {
    s_console = &console;
    gConsole::SetSink(CaptureLine);
    gScriptApi api;
    api.types[SLOT_AUDIO] = &_gAudio::RegisterScriptType;
    api.types[SLOT_SCENE] = &gScene::RegisterScriptType;
    api.types[SLOT_OBJECT] = &sceObject::RegisterScriptType;
    api.types[SLOT_OBJ_AUDIO] = &objAudio::RegisterScriptType;
    api.types[SLOT_OBJ_AUD_SOURCE] = &objAudSource::RegisterScriptType;
    host = gNewScriptHost(false, api);
    machine = host->GetMachine();
    ASSERT_NE(_gAudio::instance, nullptr);
    audio = _gAudio::instance;

    device = irr::createDevice(irr::video::EDT_NULL);
    ASSERT_NE(device, nullptr);
    std::string pattern = (fs::temp_directory_path() / "ombrix-audio-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    device->getFileSystem()->changeWorkingDirectoryTo(dir.c_str());
    gFileSystem::Set(device->getFileSystem());
    gObjectComponents::Install();
    ASSERT_TRUE(audio->Open());
    // Objects without physics and graphics, as the prelude makes them when those components
    // return nothing.
    Run("global _ScePhysics = function(s) { return null; };"
        "global _SceGraphics = function(s) { return null; };"
        "global _ObjPhysics = function(o) { return null; };"
        "global _ObjGraphics = function(o) { return null; };"
        "NewScene(\"level\"); level.NewObject(\"ball\"); level.NewObject(\"box\");");
  }

  void TearDown() override {
    gScene::DestroyAll();
    delete _gAudio::instance;
    _gAudio::bodyPose = nullptr;
    gFileSystem::Set(nullptr);
    device->drop();
    host.reset();
    gScene::machine = nullptr;
    sceObject::componentHooks = {};
    gConsole::SetSink(nullptr);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  void Run(const std::string& a_text) {
    const int before = machine->GetLog().GetEntryCount();
    EXPECT_EQ(machine->RunString(a_text.c_str()), 0) << a_text;
    bool first = true;
    int index = 0;
    while (const char* entry = machine->GetLog().GetEntry(first))
      if (index++ >= before) ADD_FAILURE() << entry;
  }
  void Write(const std::string& a_name, const std::string& a_bytes) {
    std::ofstream(dir / a_name, std::ios::binary) << a_bytes;
  }
  template <class T>
  T* Global(const char* a_name) {
    const gmVariable v = machine->GetGlobals()->GetByName(machine, a_name);
    return v.type > GM_USER ? static_cast<T*>(v.GetUserObject()->user) : nullptr;
  }
  sceObject* Object(const char* a_name) {
    gScene* scene = static_cast<gScene*>(gScene::Registry().Get(0));
    for (int i = 0; i < scene->objects.count; ++i) {
      sceObject* object = static_cast<sceObject*>(scene->objects.Get(i));
      if (object->name == a_name) return object;
    }
    return nullptr;
  }
  Decoded Decode(const std::string& a_bytes) {
    std::string copy = a_bytes;
    irr::io::IReadFile* file =
        device->getFileSystem()->createMemoryReadFile(copy.data(), static_cast<irr::s32>(copy.size()), "mem");
    audSound sound;
    const bool ok = sound.Decode(file);
    file->drop();
    EXPECT_TRUE(ok);
    const size_t channels = sound.format == AL_FORMAT_MONO16 ? 1 : 2;
    const size_t frames = sound.samples.size() / (2 * channels);
    double sum[2] = {0, 0};
    const short* pcm = reinterpret_cast<const short*>(sound.samples.data());
    for (size_t f = 0; f < frames; ++f)
      for (size_t c = 0; c < channels; ++c) sum[c] += double(pcm[f * channels + c]) * pcm[f * channels + c];
    auto rms = [&](int c) { return frames ? std::sqrt(sum[c] / frames) / 32768.0 : 0.0; };
    return {sound.format, sound.frequency, frames, rms(0), channels == 2 ? rms(1) : 0.0};
  }
  static ALint SourceInt(unsigned a_source, ALenum a_what) {
    ALint value = -1;
    alGetSourcei(a_source, a_what, &value);
    return value;
  }
  static float SourceFloat(unsigned a_source, ALenum a_what) {
    ALfloat value = -1;
    alGetSourcef(a_source, a_what, &value);
    return value;
  }

  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  _gAudio* audio = nullptr;
  irr::IrrlichtDevice* device = nullptr;
  fs::path dir;
  Lines console;
};

// One buffer holds one format of at most two channels: of more, the front pair is kept
// (Vorbis puts the centre between them from three channels on, except for four).
TEST_F(AudioTest, DecodesToMonoOrTheFrontStereoPair) {
  const int rate = 22050, frames = 11025;
  auto levels = [=](const std::vector<float>& a_amplitude) {
    return [=](int c, int f) { return audTest::Sine(a_amplitude[c], 440.0f + 110.0f * c, rate, f); };
  };
  struct Case {
    int channels;
    std::vector<float> amplitude;
    int format;
    double left, right;  // expected RMS of the uploaded channels
  } cases[] = {
      {1, {0.5f}, AL_FORMAT_MONO16, 0.354, 0},
      {2, {0.5f, 0.25f}, AL_FORMAT_STEREO16, 0.354, 0.177},
      {3, {0.5f, 0.0f, 0.25f}, AL_FORMAT_STEREO16, 0.354, 0.177},
      {4, {0.5f, 0.25f, 0.0f, 0.0f}, AL_FORMAT_STEREO16, 0.354, 0.177},
      {6, {0.5f, 0.0f, 0.25f, 0.0f, 0.0f, 0.0f}, AL_FORMAT_STEREO16, 0.354, 0.177},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels);
    const Decoded d = Decode(audTest::EncodeOgg(c.channels, rate, frames, levels(c.amplitude)));
    EXPECT_EQ(d.format, c.format);
    EXPECT_EQ(d.frequency, rate);
    EXPECT_EQ(d.frames, size_t(frames));
    EXPECT_NEAR(d.rmsLeft, c.left, 0.03);
    EXPECT_NEAR(d.rmsRight, c.right, 0.03);
  }
}

// A chain's links after the first are kept only when they have its channels and rate.
TEST_F(AudioTest, ChainedStreamsStopAtALinkOfAnotherFormat) {
  const std::string first = audTest::ToneOgg(1, 44100, 0.25f);
  auto link = [](int a_channels, int a_rate) {
    return audTest::EncodeOgg(
        a_channels, a_rate, a_rate / 10, [=](int, int f) { return audTest::Sine(0.5f, 330, a_rate, f); }, 2);
  };
  EXPECT_EQ(Decode(first + link(1, 44100)).frames, size_t(11025 + 4410));
  EXPECT_EQ(Decode(first + link(2, 44100)).frames, size_t(11025));
  EXPECT_EQ(Decode(first + link(1, 22050)).frames, size_t(11025));
}

TEST_F(AudioTest, ADecodeErrorKeepsWhatCameBefore) {
  std::string bytes = audTest::EncodeOgg(1, 44100, 88200, [](int, int f) { return audTest::Noise(0.3f, f); });
  // A damaged page half-way fails its checksum: the decoder reports a hole there.
  bytes[bytes.size() / 2] ^= 0x5a;
  const Decoded d = Decode(bytes);
  EXPECT_GT(d.frames, 0u);
  EXPECT_LT(d.frames, size_t(88200));
}

TEST_F(AudioTest, SoundsAreUploadedOnceEachAndListedEvenWhenMissingOrMalformed) {
  Write("tone.ogg", audTest::ToneOgg(2, 44100, 0.5f));
  Write("bad.ogg", "OggS but not really a stream");
  Run("global a = Audio.AddSound(\"tone.ogg\"); global b = Audio.AddSound(\"tone.ogg\");"
      "global missing = Audio.AddSound(\"nothere.ogg\"); global bad = Audio.AddSound(\"bad.ogg\");");
  EXPECT_EQ(console, (Lines{"nothere.ogg not found !", "bad.ogg doesn't seem to be a valid OggVorbis file."}));
  ASSERT_EQ(audio->sounds.count, 4);
  audSound* a = Global<audSound>("a");
  audSound* b = Global<audSound>("b");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a, audio->sounds.Get(0));
  EXPECT_NE(a->buffer, 0u);
  EXPECT_NE(b->buffer, 0u);
  EXPECT_NE(a->buffer, b->buffer);
  ALint channels = 0, bits = 0, frequency = 0, size = 0;
  alGetBufferi(a->buffer, AL_CHANNELS, &channels);
  alGetBufferi(a->buffer, AL_BITS, &bits);
  alGetBufferi(a->buffer, AL_FREQUENCY, &frequency);
  alGetBufferi(a->buffer, AL_SIZE, &size);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(bits, 16);
  EXPECT_EQ(frequency, 44100);
  EXPECT_EQ(size, 22050 * 4);
  EXPECT_TRUE(a->samples.empty());
  EXPECT_EQ(Global<audSound>("missing")->buffer, 0u);
  EXPECT_EQ(Global<audSound>("bad")->buffer, 0u);

  // A sound that never decoded detaches what the source held.
  Run("global s = AudioSource(level.ball); s.Load(a); s.Load(bad);");
  EXPECT_EQ(SourceInt(Global<objAudSource>("s")->name, AL_BUFFER), 0);
}

TEST_F(AudioTest, SourceControls) {
  Write("a.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  Write("b.ogg", audTest::ToneOgg(1, 44100, 1.0f, 660.0f));
  Run("global a = Audio.AddSound(\"a.ogg\"); global b = Audio.AddSound(\"b.ogg\");"
      "global s = AudioSource(level.ball); s.Load(a); s.Loop(2); s.Gain(0.25); s.Pitch(2);");
  objAudSource* s = Global<objAudSource>("s");
  ASSERT_NE(s, nullptr);
  ASSERT_NE(s->name, 0u);
  EXPECT_EQ(Object("ball")->audio->sources.Get(0), s);
  EXPECT_EQ(SourceFloat(s->name, AL_REFERENCE_DISTANCE), 500.0f);
  EXPECT_EQ(SourceInt(s->name, AL_BUFFER), ALint(Global<audSound>("a")->buffer));
  EXPECT_EQ(SourceInt(s->name, AL_LOOPING), AL_TRUE);
  EXPECT_EQ(SourceFloat(s->name, AL_GAIN), 0.25f);
  EXPECT_EQ(SourceFloat(s->name, AL_PITCH), 2.0f);
  Run("s.Loop(0); s.Play(1);");
  EXPECT_EQ(SourceInt(s->name, AL_LOOPING), AL_FALSE);
  EXPECT_EQ(SourceInt(s->name, AL_SOURCE_STATE), AL_PLAYING);
  Run("s.Play(0);");
  EXPECT_EQ(SourceInt(s->name, AL_SOURCE_STATE), AL_STOPPED);
  Run("s.Play(1);");
  EXPECT_EQ(SourceInt(s->name, AL_SOURCE_STATE), AL_PLAYING);
  // OpenAL refuses a buffer change on a playing source; the load stops it first.
  Run("s.Load(b);");
  EXPECT_EQ(SourceInt(s->name, AL_BUFFER), ALint(Global<audSound>("b")->buffer));
  EXPECT_EQ(SourceInt(s->name, AL_SOURCE_STATE), AL_STOPPED);
}

TEST_F(AudioTest, AnObjectHasOneAudioComponent) {
  Run("global again = _ObjAudio(level.ball._core);");
  EXPECT_EQ(Global<objAudio>("again"), Object("ball")->audio);
  EXPECT_NE(Object("ball")->audio, Object("box")->audio);
}

TEST_F(AudioTest, SourcesFollowTheirObject) {
  Run("global s1 = AudioSource(level.ball); global s2 = AudioSource(level.ball);");
  gPose pose;
  pose.origin[0] = 3;
  pose.origin[1] = -4;
  pose.origin[2] = 700;
  pose.velocity[2] = 2;
  Object("ball")->audio->Follow(pose);
  for (const char* name : {"s1", "s2"}) {
    float p[3], v[3];
    alGetSource3f(Global<objAudSource>(name)->name, AL_POSITION, &p[0], &p[1], &p[2]);
    alGetSource3f(Global<objAudSource>(name)->name, AL_VELOCITY, &v[0], &v[1], &v[2]);
    EXPECT_EQ((std::vector<float>{p[0], p[1], p[2], v[0], v[1], v[2]}), (std::vector<float>{3, -4, 700, 0, 0, 2}));
  }
  // The frame's object step: without a body, the object stands at the origin.
  gScene::UpdateAll();
  float p[3];
  alGetSource3f(Global<objAudSource>("s1")->name, AL_POSITION, &p[0], &p[1], &p[2]);
  EXPECT_EQ((std::vector<float>{p[0], p[1], p[2]}), (std::vector<float>{0, 0, 0}));
}

// OpenAL gives a deleted source's id to the next source made: a wrapper kept past its
// object must not reach that one.
TEST_F(AudioTest, SourcesDieWithTheirObjectAndKeptWrappersDoNothing) {
  Write("a.ogg", audTest::ToneOgg(1, 44100, 1.0f));
  Run("global a = Audio.AddSound(\"a.ogg\"); global kept = AudioSource(level.ball); kept.Load(a); kept.Play(1);"
      "global component = level.ball.Audio;");
  const unsigned old = Global<objAudSource>("kept")->name;
  const int live = objAudSource::Live().count;
  Run("level.ball.Delete();");
  gScene::UpdateAll();
  EXPECT_EQ(Object("ball"), nullptr);
  EXPECT_FALSE(alIsSource(old));
  EXPECT_EQ(objAudSource::Live().count, live - 1);
  Run("global other = AudioSource(level.box); other.Gain(0.5);");
  Run("kept.Gain(0.1); kept.Play(0); kept.Load(a); global none = _ObjAudSource(component);");
  const unsigned other = Global<objAudSource>("other")->name;
  EXPECT_EQ(SourceFloat(other, AL_GAIN), 0.5f);
  EXPECT_EQ(SourceInt(other, AL_BUFFER), 0);
  EXPECT_EQ(Global<objAudSource>("none"), nullptr);
}

TEST_F(AudioTest, SourcesPastTheDeviceLimitAreSilent) {
  objAudio* component = objAudio::Make(Object("box"));
  objAudSource* last = nullptr;
  for (int i = 0; i < 257; ++i) last = new objAudSource(component);
  EXPECT_EQ(console, (Lines{"Unable to create an audio source"}));
  EXPECT_EQ(last->name, 0u);
  EXPECT_NE(static_cast<objAudSource*>(component->sources.Get(255))->name, 0u);
  last->Play(1);
  last->Gain(2);
  component->Follow(gPose());

  // With one source free again, a device whose context is not current cannot give it.
  objAudSource* first = static_cast<objAudSource*>(component->sources.Get(0));
  component->sources.Remove(first);
  delete first;
  alcMakeContextCurrent(nullptr);
  objAudSource* orphan = new objAudSource(component);
  alcMakeContextCurrent(audio->context);
  EXPECT_EQ(orphan->name, 0u);
  EXPECT_EQ(console.size(), 2u);
}

namespace listenerTest {
// Stand-ins for two bodies: the audio module only compares and hands on their addresses.
struct Body {
  gPose pose;
};
Body s_ship, s_rock;
objPhysics* Handle(Body& a_body) { return reinterpret_cast<objPhysics*>(&a_body); }
gPose PoseOf(const objPhysics* a_body) { return reinterpret_cast<const Body*>(a_body)->pose; }
}  // namespace listenerTest

TEST_F(AudioTest, ListenerFollowsItsBodyUntilItsObjectDies) {
  using namespace listenerTest;
  _gAudio::bodyPose = &PoseOf;
  // Turned a quarter about Y: the body's Z axis points along world X.
  gPose& pose = s_ship.pose;
  pose = gPose();
  pose.basis[0][0] = 0, pose.basis[0][2] = 1;
  pose.basis[2][0] = -1, pose.basis[2][2] = 0;
  pose.origin[0] = 10, pose.origin[1] = 20, pose.origin[2] = 30;
  pose.velocity[0] = 1;
  auto read = []() {
    float p[3], v[3], o[6];
    alGetListener3f(AL_POSITION, &p[0], &p[1], &p[2]);
    alGetListener3f(AL_VELOCITY, &v[0], &v[1], &v[2]);
    alGetListenerfv(AL_ORIENTATION, o);
    return std::vector<float>{p[0], p[1], p[2], v[0], v[1], v[2], o[0], o[1], o[2], o[3], o[4], o[5]};
  };
  const std::vector<float> moved = {10, 20, 30, 1, 0, 0, -1, 0, 0, 0, 1, 0};

  audio->MoveListener();  // nobody listens yet: OpenAL's defaults stay
  EXPECT_EQ(read(), (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 0, -1, 0, 1, 0}));
  audio->Listener(Handle(s_ship));
  audio->MoveListener();
  EXPECT_EQ(read(), moved);

  // Another object dying leaves the listener alone; its own object's death lets go of it,
  // and the listener stays where it last was.
  audio->Forget(Handle(s_rock));
  audio->Forget(nullptr);
  EXPECT_EQ(audio->listener, Handle(s_ship));
  audio->Forget(Handle(s_ship));
  EXPECT_EQ(audio->listener, nullptr);
  pose.origin[0] = 99;
  audio->MoveListener();
  EXPECT_EQ(read(), moved);
}

// Closing deletes every source before the buffers; afterwards, as with no device at all,
// sounds get no buffer and sources no OpenAL source, and every call is silent.
TEST_F(AudioTest, WithoutADeviceEverythingIsSilent) {
  Write("a.ogg", audTest::ToneOgg(1, 44100, 0.2f));
  Run("global a = Audio.AddSound(\"a.ogg\"); global s = AudioSource(level.ball); s.Load(a); s.Play(1);");
  audio->Close();
  EXPECT_EQ(alcGetCurrentContext(), nullptr);
  EXPECT_EQ(Global<objAudSource>("s")->name, 0u);
  EXPECT_EQ(Global<audSound>("a")->buffer, 0u);
  Run("global b = Audio.AddSound(\"a.ogg\"); global t = AudioSource(level.box); t.Load(b); t.Play(1); t.Loop(1);"
      "s.Play(1); s.Gain(0.5);");
  EXPECT_EQ(Global<audSound>("b")->buffer, 0u);
  EXPECT_EQ(Global<objAudSource>("t")->name, 0u);
  EXPECT_TRUE(console.empty());
  gScene::UpdateAll();
  audio->MoveListener();
}

}  // namespace
