#pragma once
// A scene's graphics (script type _SceGraphics, the scene's `Graphics` member): the scene's
// own scene graph, which shares the device's driver, file system, GUI and mesh cache, and
// the graphics components of the scene's objects.
#include "binding/gmWrappable.h"
#include "scene/gPtrList.h"

namespace irr {
namespace scene {
class ISceneManager;
}
}  // namespace irr
class gScene;
class gmMachineEx;

class sceGraphics : public gmWrappable {
 public:
  // Drawn after each camera's picture of a scene, with the camera's projection and view set
  // again: the physics debug drawing hooks in here.
  static void (*drawOverlay)(gScene* a_scene);

  // The scene's graphics, made on first use; null (a script error) without a device.
  static sceGraphics* Make(gScene* a_scene);
  static int RegisterScriptType(gmMachineEx* a_machine);

  sceGraphics(gScene* a_scene, irr::scene::ISceneManager* a_sceneManager);
  // Destroys the objects' graphics components first, then the scene graph.
  ~sceGraphics();
  sceGraphics(const sceGraphics&) = delete;
  sceGraphics& operator=(const sceGraphics&) = delete;

  gPtrList objects;  // objGraphics
  irr::scene::ISceneManager* sceneManager;
  gScene* scene;
};
