#pragma once
// The parts of an object's update and destruction that reach into its components. Scenes
// sit below the component modules, so they call these through sceObject::componentHooks,
// which Install sets; the player installs them at start-up and tests that build objects with
// components install them in their fixtures.
namespace gObjectComponents {

void Install();

}  // namespace gObjectComponents
