#include "host/gObjectComponents.h"

#include "physics/objPhysics.h"
#include "scene/gPose.h"
#include "scene/sceObject.h"

namespace gObjectComponents {

void Install() {
  sceObject::componentHooks.sync = &Sync;
  sceObject::componentHooks.destroy = &Destroy;
}

// The graphics root takes the pose first, then the audio sources.
void Sync(sceObject* a_object) {
  if (!a_object->graphics && !a_object->audio) return;
  const gPose pose = a_object->physics ? a_object->physics->Pose() : gPose();
  (void)pose;
}

void Destroy(sceObject* a_object) {
  delete a_object->physics;
  a_object->physics = nullptr;
}

}  // namespace gObjectComponents
