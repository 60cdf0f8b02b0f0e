#include "audio/_gAudio.h"

#include <AL/al.h>
#include <irrlicht.h>

#include <cstdio>
#include <future>
#include <memory>
#include <system_error>

#include "audio/audSound.h"
#include "audio/objAudSource.h"
#include "binding/gConsole.h"
#include "binding/gmNativeType.h"
#include "platform/gFileSystem.h"

namespace {

struct Opened {
  ALCdevice* device = nullptr;
  ALCcontext* context = nullptr;
};

// a_deviceOpen, when given, is told the device as soon as it is open (or could not be).
Opened OpenDefault(std::promise<ALCdevice*>* a_deviceOpen = nullptr) {
  Opened opened;
  opened.device = alcOpenDevice(nullptr);
  if (a_deviceOpen) a_deviceOpen->set_value(opened.device);
  if (opened.device) opened.context = alcCreateContext(opened.device, nullptr);
  return opened;
}

// What OpenAhead's thread makes: the device first, then its context.
std::future<Opened> s_ahead;
std::shared_future<ALCdevice*> s_aheadDevice;
// The module whose Open took the device, and which gets the context when it is needed.
_gAudio* s_aheadOwner = nullptr;

}  // namespace

_gAudio* _gAudio::instance = nullptr;
gPose (*_gAudio::bodyPose)(const objPhysics*) = nullptr;

// The player's module lasts as long as the process; in-process sessions (tests) end theirs
// after the scripts that held its sounds.
_gAudio::~_gAudio() {
  Close();
  for (int i = 0; i < sounds.count; ++i) delete static_cast<audSound*>(sounds.Get(i));
  if (instance == this) instance = nullptr;
}

int _gAudio::RegisterScriptType(gmMachineEx* a_machine) { return RegisterScriptType(a_machine, nullptr); }

int _gAudio::RegisterScriptType(gmMachineEx* a_machine, void (*a_bindListener)(gmNativeType<_gAudio>& a_type)) {
  gmNativeType<_gAudio> type(a_machine, "_Audio");
  type.ModuleConstructor(&instance);
  type.Method("AddSound", &_gAudio::AddSound);
  if (a_bindListener) a_bindListener(type);
  return type.Register();
}

bool _gAudio::Open() {
  if (device) return true;
  listener = nullptr;
  alGetError();
  if (s_ahead.valid() && !s_aheadOwner) {
    // The device is what decides the message; its context is taken when first needed.
    device = s_aheadDevice.get();
    if (device)
      s_aheadOwner = this;
    else
      s_ahead.get();
  } else {
    const Opened opened = OpenDefault();
    device = opened.device;
    context = opened.context;
  }
  if (!device) {
    // A line of its own: the player's next line must not be glued to it.
    std::printf("Sound Device Not Found\n");
    std::fflush(stdout);
    return false;
  }
  if (!s_aheadOwner) MakeCurrent();
  return true;
}

void _gAudio::MakeCurrent() {
  alcMakeContextCurrent(context);
  // Velocities are in units per frame, large next to OpenAL's metres per second: full
  // Doppler would bend every moving sound.
  alDopplerFactor(0.01f);
}

void _gAudio::Settle() {
  if (!s_aheadOwner) return;
  _gAudio* owner = s_aheadOwner;
  s_aheadOwner = nullptr;
  owner->context = s_ahead.get().context;
  owner->MakeCurrent();
}

void _gAudio::OpenAhead() {
  if (s_ahead.valid()) return;
  auto deviceOpen = std::make_shared<std::promise<ALCdevice*>>();
  std::shared_future<ALCdevice*> opened = deviceOpen->get_future().share();
  try {
    s_ahead = std::async(std::launch::async, [deviceOpen] { return OpenDefault(deviceOpen.get()); });
    s_aheadDevice = std::move(opened);
  } catch (const std::system_error&) {
    // No thread to spare: Open opens the device itself.
  }
}

// Only opening the device may load libraries (the sound system's back-ends and plugins): a
// child copied half-way through that would hold the loader's lists half-made. Making the
// context afterwards touches only the library's own state, which children never use.
void _gAudio::WaitAhead() {
  if (s_aheadDevice.valid()) s_aheadDevice.wait();
}

void _gAudio::DropAhead() {
  if (!s_ahead.valid() || s_aheadOwner) return;
  const Opened opened = s_ahead.get();
  if (opened.context) alcDestroyContext(opened.context);
  if (opened.device) alcCloseDevice(opened.device);
}

void _gAudio::Teardown() {
  Settle();
  const bool current = device && alcGetCurrentContext();
  for (int i = 0; i < sounds.count; ++i) {
    audSound* sound = static_cast<audSound*>(sounds.Get(i));
    if (current && sound->buffer) alDeleteBuffers(1, &sound->buffer);
    sound->buffer = 0;
    delete sound;
    sounds.RemoveAt(i--);
  }
  listener = nullptr;
}

void _gAudio::Close() {
  if (!device) return;
  Settle();
  // Sources first, as they may hold the buffers.
  gPtrList& live = objAudSource::Live();
  for (int i = 0; i < live.count; ++i) static_cast<objAudSource*>(live.Get(i))->Release();
  if (alcGetCurrentContext()) {
    for (int i = 0; i < sounds.count; ++i) {
      audSound* sound = static_cast<audSound*>(sounds.Get(i));
      if (sound->buffer) alDeleteBuffers(1, &sound->buffer);
      sound->buffer = 0;
    }
  }
  alcMakeContextCurrent(nullptr);
  if (context) alcDestroyContext(context);
  alcCloseDevice(device);
  context = nullptr;
  device = nullptr;
  listener = nullptr;
}

audSound* _gAudio::AddSound(const char* a_file) {
  const char* name = a_file ? a_file : "";
  audSound* sound = new audSound();
  sounds.Append(sound);
  irr::io::IFileSystem* files = gFileSystem::Get();
  irr::io::IReadFile* file = gFileSystem::Open(files, name);
  if (!file) {
    gConsole::Line("%s not found !", gConsole::Quote(name).c_str());
    return sound;
  }
  const bool decoded = sound->Decode(file);
  file->drop();
  if (!decoded) {
    gConsole::Line("%s doesn't seem to be a valid OggVorbis file.", gConsole::Quote(name).c_str());
    return sound;
  }
  sound->Upload();
  return sound;
}

void _gAudio::Listener(objPhysics* a_body) { listener = a_body; }

void _gAudio::Forget(const objPhysics* a_body) {
  if (a_body && listener == a_body) listener = nullptr;
}

void _gAudio::MoveListener() {
  if (!device || !listener || !bodyPose) return;
  Settle();
  const gPose pose = bodyPose(listener);
  alListener3f(AL_POSITION, pose.origin[0], pose.origin[1], pose.origin[2]);
  alListener3f(AL_VELOCITY, pose.velocity[0], pose.velocity[1], pose.velocity[2]);
  // The at-vector is the body's -Z (its third basis column negated), the up-vector its Y.
  const float orientation[6] = {-pose.basis[0][2], -pose.basis[1][2], -pose.basis[2][2],
                                pose.basis[0][1],  pose.basis[1][1],  pose.basis[2][1]};
  alListenerfv(AL_ORIENTATION, orientation);
}
