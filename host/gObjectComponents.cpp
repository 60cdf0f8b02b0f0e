#include "host/gObjectComponents.h"

#include "audio/_gAudio.h"
#include "audio/objAudio.h"
#include "scene/gPose.h"
#include "scene/sceObject.h"

namespace gObjectComponents {
namespace {

// After the object's per-frame function: the body's pose to the graphics root and the
// audio sources. An object without a body stands at the identity pose.
void Sync(sceObject* a_object) {
  const gPose pose;
  if (a_object->audio) a_object->audio->Follow(pose);
}

// Graphics, then physics, then audio; the listener lets go of the body before it is freed.
void Destroy(sceObject* a_object) {
  if (_gAudio::instance) _gAudio::instance->Forget(a_object->physics);
  delete a_object->audio;
  a_object->audio = nullptr;
}

}  // namespace

void Install() {
  sceObject::componentHooks.sync = &Sync;
  sceObject::componentHooks.destroy = &Destroy;
}

}  // namespace gObjectComponents
