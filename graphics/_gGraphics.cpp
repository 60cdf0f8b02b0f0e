#include "graphics/_gGraphics.h"

#include <irrlicht.h>

#include <cctype>

#include "binding/gConsole.h"
#include "binding/gmMachineEx.h"
#include "binding/gmNativeType.h"
#include "graphics/graConvert.h"
#include "graphics/graImageLoader.h"
#include "graphics/graLoadProbe.h"
#include "graphics/graResources.h"
#include "graphics/objGraCamera.h"
#include "graphics/sceGraphics.h"
#include "scene/gScene.h"

using namespace irr;

_gGraphics* _gGraphics::instance = nullptr;

_gGraphics::_gGraphics() = default;

_gGraphics::~_gGraphics() {
  for (int i = 0; i < textures.count; ++i) delete static_cast<graTexture*>(textures.Get(i));
  for (int i = 0; i < meshes.count; ++i) delete static_cast<graMesh*>(meshes.Get(i));
  for (int i = 0; i < texts.count; ++i) delete static_cast<graText*>(texts.Get(i));
  if (instance == this) instance = nullptr;
}

namespace {

std::string BareLowerName(const io::path& a_path) {
  std::string name = a_path.c_str();
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

void _gGraphics::Teardown(const std::set<std::string>& a_changed) {
  for (gPtrList* handles : {&textures, &meshes, &texts}) {
    for (int i = 0; i < handles->count; ++i) {
      if (handles == &textures) delete static_cast<graTexture*>(handles->Get(i));
      if (handles == &meshes) delete static_cast<graMesh*>(handles->Get(i));
      if (handles == &texts) delete static_cast<graText*>(handles->Get(i));
    }
    while (handles->count > 0) handles->RemoveAt(handles->count - 1);
  }
  // A font that was missing may have been added, and one that failed its trial mended.
  m_missingFonts.clear();
  m_triedFonts.clear();
  if (!device || a_changed.empty()) return;
  video::IVideoDriver* driver = device->getVideoDriver();
  for (s32 i = static_cast<s32>(driver->getTextureCount()) - 1; i >= 0; --i) {
    video::ITexture* texture = driver->getTextureByIndex(static_cast<u32>(i));
    if (texture && a_changed.count(BareLowerName(texture->getName().getPath()))) driver->removeTexture(texture);
  }
  scene::IMeshCache* cache = device->getSceneManager()->getMeshCache();
  for (s32 i = static_cast<s32>(cache->getMeshCount()) - 1; i >= 0; --i) {
    if (a_changed.count(BareLowerName(cache->getMeshName(static_cast<u32>(i)).getPath())))
      cache->removeMesh(cache->getMeshByIndex(static_cast<u32>(i)));
  }
}

int _gGraphics::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<_gGraphics> type(a_machine, "_Graphics");
  type.ModuleConstructor(&instance);
  type.Method("SetCaption", &_gGraphics::SetCaption);
  type.Method("NewTexture", &_gGraphics::NewTexture);
  type.Method("NewMesh", &_gGraphics::NewMesh);
  type.Method("NewText", &_gGraphics::NewText);
  type.Method("SetTextColor", &_gGraphics::SetTextColor);
  type.Method("TextCaption", &_gGraphics::TextCaption);
  type.Method("Width", &_gGraphics::Width);
  type.Method("Height", &_gGraphics::Height);
  type.Method("Ratio", &_gGraphics::Ratio);
  return type.Register();
}

void _gGraphics::SetCaption(const char* a_caption) {
  if (device) device->setWindowCaption(graWideText(a_caption).c_str());
}

// A file that gives no texture or mesh is named once, with the call and the script line
// that asked for it: the components that are later handed the empty handle can only say
// "Missing texture" or "mesh is empty". A file the trial load found damaged has been named
// already.
void _gGraphics::ReportUnloaded(const char* a_file, const char* a_call, bool a_damaged) {
  if (!device || !a_file || a_damaged || !reportedFiles.insert(a_file).second) return;
  const std::string where = gmMachineEx::CallingPosition();
  const std::string context = std::string(a_call) + (where.empty() ? "" : ", " + where);
  if (!*a_file)
    gConsole::Line("no file name given (%s)", context.c_str());
  else if (!device->getFileSystem()->existFile(a_file))
    gConsole::Line("%s not found (%s)", a_file, context.c_str());
  else
    gConsole::Line("%s could not be loaded (%s)", a_file, context.c_str());
}

graTexture* _gGraphics::NewTexture(const char* a_file) {
  const bool loads =
      device && a_file && *a_file && graLoadProbe::Loads(device->getFileSystem(), graLoadProbe::TEXTURE, a_file);
  video::ITexture* texture = loads ? graImageLoader::GetTexture(device->getVideoDriver(), a_file) : nullptr;
  // A picture the checked loader found damaged has been named by it already.
  if (!texture)
    ReportUnloaded(a_file, "Graphics.NewTexture", (a_file && *a_file && !loads) || graImageLoader::Damaged(nullptr));
  graTexture* handle = new graTexture(texture);
  textures.Append(handle);
  return handle;
}

graMesh* _gGraphics::NewMesh(const char* a_file) {
  const bool loads =
      device && a_file && *a_file && graLoadProbe::Loads(device->getFileSystem(), graLoadProbe::MESH, a_file);
  scene::IAnimatedMesh* mesh = loads ? device->getSceneManager()->getMesh(a_file) : nullptr;
  if (!mesh) ReportUnloaded(a_file, "Graphics.NewMesh", a_file && *a_file && !loads);
  graMesh* handle = new graMesh(mesh);
  meshes.Append(handle);
  return handle;
}

graText* _gGraphics::NewText(const char* a_caption, int a_x, int a_y, const char* a_font) {
  graText* text = new graText(a_caption ? a_caption : "", a_x, a_y, a_font ? a_font : "");
  texts.Append(text);
  return text;
}

void _gGraphics::SetTextColor(graText* a_text, float a_red, float a_green, float a_blue, float a_alpha) {
  if (a_text) a_text->color = graScriptColor(a_red, a_green, a_blue, a_alpha);
}

void _gGraphics::TextCaption(graText* a_text, const char* a_caption) {
  if (a_text) a_text->caption = a_caption ? a_caption : "";
}

int _gGraphics::Width() { return device ? static_cast<int>(device->getVideoDriver()->getScreenSize().Width) : 0; }

int _gGraphics::Height() { return device ? static_cast<int>(device->getVideoDriver()->getScreenSize().Height) : 0; }

float _gGraphics::Ratio() {
  const int height = Height();
  return height ? static_cast<float>(Width()) / static_cast<float>(height) : 0.0f;
}

void _gGraphics::RenderFrame() {
  if (!device) return;
  graLoadProbe::Collect();
  video::IVideoDriver* driver = device->getVideoDriver();
  // The frame opened by the previous step (or at start-up) is presented here, so a picture
  // is shown one frame after it was drawn.
  driver->endScene();
  driver->beginScene(true, true, video::SColor(128, 0, 0, 0));
  // Newest first: where viewports overlap the older camera draws last and covers the newer.
  for (int i = cameras.count - 1; i >= 0; --i) static_cast<objGraCamera*>(cameras.Get(i))->Render();
  const core::dimension2d<u32> screen = driver->getScreenSize();
  driver->setViewPort(core::rect<s32>(0, 0, static_cast<s32>(screen.Width), static_cast<s32>(screen.Height)));
  DrawTexts();
  device->getGUIEnvironment()->drawAll();
}

void _gGraphics::RenderScene(sceGraphics* a_scene) {
  scene::ISceneManager* manager = a_scene->sceneManager;
  video::IVideoDriver* driver = manager->getVideoDriver();
  manager->drawAll();

  // Whatever the overlay draws starts from a known state: no leftover transforms or lights.
  const core::matrix4 identity;
  const video::E_TRANSFORMATION_STATE states[] = {video::ETS_PROJECTION, video::ETS_VIEW,      video::ETS_WORLD,
                                                  video::ETS_TEXTURE_0,  video::ETS_TEXTURE_1, video::ETS_TEXTURE_2,
                                                  video::ETS_TEXTURE_3};
  for (video::E_TRANSFORMATION_STATE state : states) driver->setTransform(state, identity);
  driver->deleteAllDynamicLights();
  driver->setAmbientLight(video::SColorf(1.0f, 1.0f, 1.0f, 1.0f));
  if (scene::ICameraSceneNode* camera = manager->getActiveCamera()) camera->render();
  if (sceGraphics::drawOverlay) sceGraphics::drawOverlay(a_scene->scene, driver);
}

void _gGraphics::DrawTexts() {
  gui::IGUIEnvironment* gui = device->getGUIEnvironment();
  for (int i = 0; i < texts.count; ++i) {
    const graText* text = static_cast<graText*>(texts.Get(i));
    if (m_missingFonts.count(text->font)) continue;
    // Tried once per name: this runs every frame.
    if (m_triedFonts.insert(text->font).second &&
        !graLoadProbe::Loads(device->getFileSystem(), graLoadProbe::FONT, text->font)) {
      m_missingFonts.insert(text->font);
      continue;
    }
    gui::IGUIFont* font = gui->getFont(text->font.c_str());
    if (!font) {
      m_missingFonts.insert(text->font);
      continue;
    }
    font->draw(core::stringw(graWideText(text->caption.c_str()).c_str()), core::rect<s32>(text->x, text->y, 0, 0),
               video::SColor(text->color), false, false, nullptr);
  }
}
