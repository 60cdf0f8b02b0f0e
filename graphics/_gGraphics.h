#pragma once
// The graphics module (script global Graphics): the engine's device, the resources scripts
// load, the on-screen texts, and the frame's render step, which draws every scene through
// the active cameras of its objects.
#include <set>
#include <string>

#include "scene/gPtrList.h"

namespace irr {
class IrrlichtDevice;
}
class gmMachineEx;
class graMesh;
class graText;
class graTexture;
class sceGraphics;

class _gGraphics {
 public:
  // The module the script global Graphics wraps; made by its first construction.
  static _gGraphics* instance;

  gPtrList cameras;   // objGraCamera of every scene, in creation order
  gPtrList textures;  // graTexture, every one ever made
  gPtrList meshes;    // graMesh, every one ever made
  gPtrList texts;     // graText, in creation order
  // Set at start-up before any script runs; null before that and after shutdown.
  irr::IrrlichtDevice* device = nullptr;

  _gGraphics();
  // The end of the process for the handles: they are freed here and nowhere else.
  ~_gGraphics();
  _gGraphics(const _gGraphics&) = delete;
  _gGraphics& operator=(const _gGraphics&) = delete;

  static int RegisterScriptType(gmMachineEx* a_machine);

  void SetCaption(const char* a_caption);
  // Both return a handle even when the file cannot be loaded; it then holds nothing.
  graTexture* NewTexture(const char* a_file);
  graMesh* NewMesh(const char* a_file);
  // Names a file that gave nothing on the console, once per name.
  void ReportUnloaded(const char* a_file, const char* a_call, bool a_damaged);
  std::set<std::string> reportedFiles;
  graText* NewText(const char* a_caption, int a_x, int a_y, const char* a_font);
  void SetTextColor(graText* a_text, float a_red, float a_green, float a_blue, float a_alpha);
  void TextCaption(graText* a_text, const char* a_caption);
  int Width();
  int Height();
  // Width over height; 0 for a screen without height.
  float Ratio();

  // The render step of a frame: presents the frame in progress, then opens and draws the
  // next (every active camera from the newest to the oldest, the texts, the GUI). The new
  // frame is left drawn and not yet presented.
  void RenderFrame();
  // One scene for the camera the camera pass has just made active.
  void RenderScene(sceGraphics* a_scene);

  // The end of a game, after its scenes: every text and every handle freed. The device, the
  // window and what the engine has loaded stay for the next game; a_changed names files
  // (bare names, lower case) whose new contents must be read again, and the engine's
  // textures and meshes loaded from them are dropped.
  void Teardown(const std::set<std::string>& a_changed = {});

 private:
  void DrawTexts();

  // Fonts that failed to load: the engine would try the file again, and log, every frame.
  std::set<std::string> m_missingFonts;
  std::set<std::string> m_triedFonts;  // by the load trial
};
