#include "graphics/sceGraphics.h"

#include <irrlicht.h>

#include "binding/gmNativeType.h"
#include "graphics/_gGraphics.h"
#include "graphics/graImageLoader.h"
#include "graphics/graLoadProbe.h"
#include "graphics/objGraphics.h"
#include "scene/gScene.h"

void (*sceGraphics::drawOverlay)(gScene* a_scene, irr::video::IVideoDriver* a_driver) = nullptr;

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

void sceGraphics::DestroyAll() {
  gPtrList& scenes = gScene::Registry();
  for (int i = 0; i < scenes.count; ++i) delete static_cast<gScene*>(scenes.Get(i))->graphics;
}

int sceGraphics::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<sceGraphics> type(a_machine, "_SceGraphics");
  type.FactoryConstructor(&sceGraphics::Make);
  type.Method("SkyBox", &sceGraphics::SkyBox);
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

void sceGraphics::SkyBoxFaceNames(const char* a_file, std::string a_names[6]) {
  const std::string file = a_file ? a_file : "";
  const size_t dot = file.rfind('.');
  const std::string base = dot == std::string::npos ? "" : file.substr(0, dot);
  const std::string extension = dot == std::string::npos ? file : file.substr(dot);
  static const char* const faces[6] = {"_top", "_bottom", "_left", "_right", "_front", "_back"};
  for (int i = 0; i < 6; ++i) a_names[i] = base + faces[i] + extension;
}

void sceGraphics::SkyBox(const char* a_file) {
  using namespace irr;
  std::string names[6];
  SkyBoxFaceNames(a_file, names);
  video::IVideoDriver* driver = sceneManager->getVideoDriver();
  const bool mipMaps = driver->getTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS);
  driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, false);
  video::ITexture* textures[6];
  for (int i = 0; i < 6; ++i)
    textures[i] = graLoadProbe::Loads(sceneManager->getFileSystem(), graLoadProbe::TEXTURE, names[i])
                      ? graImageLoader::GetTexture(driver, names[i].c_str())
                      : nullptr;
  driver->setTextureCreationFlag(video::ETCF_CREATE_MIP_MAPS, mipMaps);

  if (skyBox) skyBox->remove();
  skyBox = sceneManager->addSkyBoxSceneNode(textures[0], textures[1], textures[2], textures[3], textures[4],
                                            textures[5], nullptr, -1);
  // The engine's sky box maps its pictures mirrored on the four sides and turned half round
  // on top and bottom, against the layout our packages' skies are painted for; a texture
  // matrix on each face puts them back. Its faces are front, left, back, right, top, bottom.
  for (u32 face = 0; face < 6 && face < skyBox->getMaterialCount(); ++face) {
    core::matrix4& uv = skyBox->getMaterial(face).getTextureMatrix(0);
    const bool cap = face >= 4;
    uv.setTextureScale(-1.0f, cap ? -1.0f : 1.0f);
    uv.setTextureTranslate(1.0f, cap ? 1.0f : 0.0f);
  }
}
