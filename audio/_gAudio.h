#pragma once
// The audio module: the process's one OpenAL device and context, every sound the game has
// added, and the listener, which follows one rigid body. Without a sound device the game
// runs silently: sounds get no buffer, sources no OpenAL source, and the listener stays put.
#include <AL/alc.h>

#include "scene/gPose.h"
#include "scene/gPtrList.h"

class audSound;
class gmMachineEx;
class objPhysics;
template <class C>
class gmNativeType;

class _gAudio {
 public:
  // The module the script global Audio wraps; made by its first construction.
  static _gAudio* instance;
  // The listener body's pose. Audio does not link physics, so the host that has both sets
  // this; while it is null the listener does not move.
  static gPose (*bodyPose)(const objPhysics* a_body);

  _gAudio() = default;
  ~_gAudio();
  _gAudio(const _gAudio&) = delete;
  _gAudio& operator=(const _gAudio&) = delete;

  // Without Listener: it takes a physics body, a class audio does not link. The host, which
  // has both, registers with a_bindListener binding it (host/gPlayerScriptApi.cpp).
  static int RegisterScriptType(gmMachineEx* a_machine);
  static int RegisterScriptType(gmMachineEx* a_machine, void (*a_bindListener)(gmNativeType<_gAudio>& a_type));

  // Opens the default device with a context of its own, made current. Without one, prints
  // "Sound Device Not Found" and returns false; the game goes on without sound. Takes what
  // OpenAhead opened, if it ran.
  bool Open();
  // Starts opening the default device and its context on a thread of their own, for the
  // next Open to take: the library clears large mixing buffers when it makes the context,
  // and the player has other start-up work to do meanwhile. Says nothing; Open says what
  // there is to say, where it always did.
  static void OpenAhead();
  // Waits until OpenAhead's thread has the device open (a fork must not copy it half-way
  // through that).
  static void WaitAhead();
  // Closes what OpenAhead opened when no Open is going to take it.
  static void DropAhead();
  // Makes the context OpenAhead made current, once Open has taken its device: called before
  // the first OpenAL call that needs a context, so that the start script runs while the
  // context is still being made.
  static void Settle();
  // Deletes every live source, then every sound's buffer, then the context and the device.
  // Nothing happens when no device was opened.
  void Close();

  // Decodes the package file a_file into a new sound, listed and returned even when the
  // file is missing or not Ogg Vorbis (after a console line saying so); such a sound plays
  // nothing. The same file added twice gives two sounds.
  audSound* AddSound(const char* a_file);

  // The listener follows a_body from the next listener step on.
  void Listener(objPhysics* a_body);
  // An object is dying: if its body a_body is the listener, nothing is followed any more and
  // the listener keeps its last position.
  void Forget(const objPhysics* a_body);
  // The listener step of the frame: the body's origin, velocity and orientation (looking
  // down the body's -Z, its Y up).
  void MoveListener();
  // The end of a game, after its objects (and so its sources) are gone: every sound with
  // its buffer freed, nothing followed. The device and context stay open.
  void Teardown();

  ALCdevice* device = nullptr;
  ALCcontext* context = nullptr;  // when made ahead, set by Settle
  gPtrList sounds;                // of audSound, every one ever added; never shrinks; the module owns them
  objPhysics* listener = nullptr;

 private:
  void MakeCurrent();
};
