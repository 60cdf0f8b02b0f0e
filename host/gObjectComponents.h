#pragma once
// The parts of an object's update and destruction that reach into its components. Scenes
// sit below the component modules, so they call these through sceObject::componentHooks,
// which Install sets; the player installs them at start-up and tests that build objects with
// components install them in their fixtures.
class sceObject;

namespace gObjectComponents {

// Sets sceObject::componentHooks and the audio listener's way to read a body's pose.
void Install();

// The body's pose to the graphics root and the audio sources; without a physics component
// the pose is the identity.
void Sync(sceObject* a_object);
// Frees the graphics, physics and audio components, in that order, and nulls the fields;
// the listener lets go of the body first.
void Destroy(sceObject* a_object);

}  // namespace gObjectComponents
