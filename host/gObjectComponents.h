#pragma once
// The parts of an object's update and destruction that reach its components: scene/ sits
// below the component modules, so the host hands these to sceObject as hooks.
class sceObject;

namespace gObjectComponents {

// Sets sceObject::componentHooks; the player does it at start-up, test fixtures in set-up.
void Install();

// The body's pose to the graphics root and the audio sources; without a physics component
// the pose is the identity.
void Sync(sceObject* a_object);
// Frees the graphics, physics and audio components, in that order, and nulls the fields.
void Destroy(sceObject* a_object);

}  // namespace gObjectComponents
