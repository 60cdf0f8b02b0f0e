#include "graphics/sceGraphics.h"

#include <irrlicht.h>

#include "binding/gmNativeType.h"
#include "graphics/_gGraphics.h"
#include "graphics/objGraphics.h"
#include "scene/gScene.h"

void (*sceGraphics::drawOverlay)(gScene* a_scene) = nullptr;

sceGraphics* sceGraphics::Make(gScene* a_scene) {
  if (a_scene->graphics) return a_scene->graphics;
  _gGraphics* module = _gGraphics::instance;
  if (!module || !module->device) {
    if (gmMachineEx* machine = gScene::machine) {
      machine->GetLog().LogEntry("_SceGraphics: there is no graphics device yet, so the scene gets no scene graph");
      machine->FailCurrentCall();
    }
    return nullptr;
  }
  // A fresh, empty scene graph; meshes loaded through the module serve every scene.
  return new sceGraphics(a_scene, module->device->getSceneManager()->createNewSceneManager(false));
}

int sceGraphics::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<sceGraphics> type(a_machine, "_SceGraphics");
  type.FactoryConstructor(&sceGraphics::Make);
  return type.Register();
}

sceGraphics::sceGraphics(gScene* a_scene, irr::scene::ISceneManager* a_sceneManager)
    : sceneManager(a_sceneManager), scene(a_scene) {
  scene->graphics = this;
  // The frame step leaves the driver's ambient light at full white after every scene, and
  // the scenes were made to be seen in it: a lit mesh without any light shows its texture
  // as it is. The scene graph sets the driver's ambient light from its own, so it is white.
  sceneManager->setAmbientLight(irr::video::SColorf(1.0f, 1.0f, 1.0f, 1.0f));
}

sceGraphics::~sceGraphics() {
  CutWrappers();
  while (objects.count > 0) delete static_cast<objGraphics*>(objects.Get(objects.count - 1));
  sceneManager->drop();
  if (scene && scene->graphics == this) scene->graphics = nullptr;
}
