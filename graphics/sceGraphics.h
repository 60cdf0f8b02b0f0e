#pragma once
// A scene's graphics (script type _SceGraphics, the scene's `Graphics` member): the scene's
// own scene graph, which shares the device's driver, file system, GUI and mesh cache, and
// the graphics components of the scene's objects.
#include <string>

#include "binding/gmWrappable.h"
#include "scene/gPtrList.h"

namespace irr {
namespace scene {
class ISceneManager;
class ISceneNode;
}  // namespace scene
namespace video {
class IVideoDriver;
}
}  // namespace irr
class gScene;
class gmMachineEx;

class sceGraphics : public gmWrappable {
 public:
  // Drawn after each camera's picture of a scene, with the camera's projection and view set
  // again, by the driver that drew it: the host hooks the physics debug drawing in here.
  static void (*drawOverlay)(gScene* a_scene, irr::video::IVideoDriver* a_driver);

  // The scene's graphics, made on first use; null (a script error) without a device.
  static sceGraphics* Make(gScene* a_scene);
  static int RegisterScriptType(gmMachineEx* a_machine);
  // The end of a game's pictures, before its scenes end (scenes free only their objects):
  // every scene's graphics with its objects' graphics components and its scene graph.
  static void DestroyAll();

  sceGraphics(gScene* a_scene, irr::scene::ISceneManager* a_sceneManager);
  // Destroys the objects' graphics components first, then the scene graph.
  ~sceGraphics();
  sceGraphics(const sceGraphics&) = delete;
  sceGraphics& operator=(const sceGraphics&) = delete;

  // A sky box of six pictures named after a_file: "sky.jpg" reads sky_top.jpg, sky_bottom.jpg,
  // sky_left.jpg, sky_right.jpg, sky_front.jpg and sky_back.jpg, loaded without mip-maps. It
  // replaces the scene's previous one, which could never show again (a sky box ignores
  // depth and the newest draws last) but would be drawn every frame. Looking along +Z shows
  // the back picture, -Z the front, +X the left, -X the right, +Y the top.
  void SkyBox(const char* a_file);
  // The six names in the order top, bottom, left, right, front, back: the name is split at
  // its last dot into a base and an extension (the dot and what follows); a name without a
  // dot is all extension.
  static void SkyBoxFaceNames(const char* a_file, std::string a_names[6]);

  gPtrList objects;  // objGraphics
  irr::scene::ISceneManager* sceneManager;
  gScene* scene;
  irr::scene::ISceneNode* skyBox = nullptr;
};
