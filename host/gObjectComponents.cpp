#include "host/gObjectComponents.h"

#include "graphics/objGraphics.h"
#include "scene/gPose.h"
#include "scene/sceObject.h"

namespace {

// After the per-frame function: the body's pose goes to the graphics root. An object
// without a body stands at the identity pose.
void SyncComponents(sceObject* a_object) {
  const gPose pose;
  if (a_object->graphics) a_object->graphics->SyncTransform(pose);
}

// Graphics first, then physics, then audio.
void DestroyComponents(sceObject* a_object) {
  delete a_object->graphics;
  a_object->graphics = nullptr;
}

}  // namespace

void gInstallObjectComponents() {
  sceObject::componentHooks.sync = SyncComponents;
  sceObject::componentHooks.destroy = DestroyComponents;
}
