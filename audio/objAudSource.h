#pragma once
// One sound emitter of an object: an OpenAL source that its object's audio component owns
// and moves with the body every frame. Scripts give it a sound and play, loop, scale and
// pitch it. A source whose OpenAL source could not be made (no context, or the device's
// sources all taken) has name 0 and ignores every call.
#include "binding/gmWrappable.h"
#include "scene/gPtrList.h"

class audSound;
class gmMachineEx;
class objAudio;

class objAudSource : public gmWrappable {
 public:
  // Attenuation starts this far from the listener: the player's worlds are measured in
  // large units, and nearer sources are heard at full gain.
  static constexpr float kReferenceDistance = 500.0f;

  // Appends the source to a_audio, which owns it from now on.
  explicit objAudSource(objAudio* a_audio);
  // Deletes the OpenAL source; the wrappers scripts keep are cut first, so none can reach
  // the id that OpenAL hands to the next source made.
  ~objAudSource();
  objAudSource(const objAudSource&) = delete;
  objAudSource& operator=(const objAudSource&) = delete;

  static int RegisterScriptType(gmMachineEx* a_machine);

  // A sound that never decoded (buffer 0) detaches the source's sound, so it plays nothing.
  void Load(audSound* a_sound);
  // Non-zero plays from the start; zero stops.
  void Play(int a_play);
  // Any non-zero value loops.
  void Loop(int a_loop);
  void Gain(float a_gain);
  void Pitch(float a_pitch);

  // Frees the OpenAL source now, leaving this one silent; the device's closing does this
  // to every source still alive before it deletes the buffers they may hold.
  void Release();

  // Every source alive, in no particular order.
  static gPtrList& Live();

  unsigned name = 0;
};
