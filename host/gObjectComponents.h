#pragma once
// The object update's and object destruction's reach into the components, whose modules
// sit above scenes: installs sceObject::componentHooks. The host calls it at start-up, and
// test fixtures that build objects with components call it too.
void gInstallObjectComponents();
