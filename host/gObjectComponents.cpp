#include "host/gObjectComponents.h"

#include "audio/_gAudio.h"
#include "audio/objAudio.h"
#include "graphics/graResources.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"
#include "physics/GLDebugDrawer.h"
#include "physics/objPhyCloth.h"
#include "physics/objPhysics.h"
#include "scene/gPose.h"
#include "scene/sceObject.h"

namespace gObjectComponents {

void Install() {
  sceObject::componentHooks.sync = &Sync;
  sceObject::componentHooks.destroy = &Destroy;
  _gAudio::bodyPose = [](const objPhysics* a_body) { return a_body->Pose(); };
  sceGraphics::drawOverlay = &GLDebugDrawer::DrawOverlay;
  objPhyCloth::meshOf = [](const graMesh* a_mesh) { return a_mesh->mesh; };
}

// The graphics root takes the pose first, then the audio sources.
void Sync(sceObject* a_object) {
  if (!a_object->graphics && !a_object->audio) return;
  const gPose pose = a_object->physics ? a_object->physics->Pose() : gPose();
  if (a_object->graphics) a_object->graphics->SyncTransform(pose);
  if (a_object->audio) a_object->audio->Follow(pose);
}

void Destroy(sceObject* a_object) {
  if (_gAudio::instance) _gAudio::instance->Forget(a_object->physics);
  delete a_object->graphics;
  a_object->graphics = nullptr;
  delete a_object->physics;
  a_object->physics = nullptr;
  delete a_object->audio;
  a_object->audio = nullptr;
}

}  // namespace gObjectComponents
