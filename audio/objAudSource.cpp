#include "audio/objAudSource.h"

#include <AL/al.h>
#include <AL/alc.h>

#include "audio/_gAudio.h"
#include "audio/audSound.h"
#include "audio/objAudio.h"
#include "binding/gConsole.h"
#include "binding/gmNativeType.h"

gPtrList& objAudSource::Live() {
  static gPtrList* live = new gPtrList();
  return *live;
}

objAudSource::objAudSource(objAudio* a_audio) {
  if (a_audio) a_audio->sources.Append(this);
  Live().Append(this);
  // Without a device "Sound Device Not Found" has said it all; a device without a context,
  // or with its sources all taken, is worth a line per source it cannot give.
  const bool device = _gAudio::instance && _gAudio::instance->device;
  _gAudio::Settle();
  if (!alcGetCurrentContext()) {
    if (device) gConsole::Line("Unable to create an audio source");
    return;
  }
  alGetError();
  ALuint made = 0;
  alGenSources(1, &made);
  if (alGetError() != AL_NO_ERROR || made == 0) {
    gConsole::Line("Unable to create an audio source");
    return;
  }
  name = made;
  alSourcef(name, AL_REFERENCE_DISTANCE, kReferenceDistance);
}

objAudSource::~objAudSource() {
  CutWrappers();
  Release();
  Live().Remove(this);
}

int objAudSource::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objAudSource> type(a_machine, "_ObjAudSource");
  type.Constructor<objAudio*>();
  type.Method("Load", &objAudSource::Load);
  type.Method("Play", &objAudSource::Play);
  type.Method("Loop", &objAudSource::Loop);
  type.Method("Gain", &objAudSource::Gain);
  type.Method("Pitch", &objAudSource::Pitch);
  return type.Register();
}

void objAudSource::Load(audSound* a_sound) {
  if (!name || !a_sound) return;
  // OpenAL refuses a new buffer on a playing or paused source and the old sound would
  // play on.
  ALint state = AL_INITIAL;
  alGetSourcei(name, AL_SOURCE_STATE, &state);
  if (state == AL_PLAYING || state == AL_PAUSED) alSourceStop(name);
  alSourcei(name, AL_BUFFER, static_cast<ALint>(a_sound->buffer));
}

void objAudSource::Play(int a_play) {
  if (!name) return;
  if (a_play)
    alSourcePlay(name);
  else
    alSourceStop(name);
}

// OpenAL takes only AL_TRUE and AL_FALSE here and ignores anything else.
void objAudSource::Loop(int a_loop) {
  if (name) alSourcei(name, AL_LOOPING, a_loop ? AL_TRUE : AL_FALSE);
}

void objAudSource::Gain(float a_gain) {
  if (name) alSourcef(name, AL_GAIN, a_gain);
}

void objAudSource::Pitch(float a_pitch) {
  if (name) alSourcef(name, AL_PITCH, a_pitch);
}

void objAudSource::Release() {
  if (!name) return;
  ALuint gone = name;
  name = 0;
  if (alcGetCurrentContext()) alDeleteSources(1, &gone);
}
