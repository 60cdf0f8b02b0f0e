#pragma once
// A camera of an object (script type _ObjGraCamera). It looks along the object's forward
// (+Z) axis with the object's +Y axis up, and draws its scene into its viewport, given as
// fractions of the screen.
#include <string>

#include "binding/gVector3.h"
#include "binding/gmWrappable.h"

namespace irr {
namespace core {
template <class T>
class rect;
}
namespace scene {
class ICameraSceneNode;
}
}  // namespace irr
class gmMachineEx;
class objGraphics;

class objGraCamera : public gmWrappable {
 public:
  static int RegisterScriptType(gmMachineEx* a_machine);

  // Adds the node under the owner's root and the camera to the module's camera list.
  objGraCamera(const char* a_name, objGraphics* a_owner);
  ~objGraCamera();
  objGraCamera(const objGraCamera&) = delete;
  objGraCamera& operator=(const objGraCamera&) = delete;

  float FarClip();
  void FarClip(float a_far);
  // Relative to the object.
  gVector3 Position();
  void Position(float a_x, float a_y, float a_z);
  void Activate(int a_active);
  // Kept as given; the camera pass makes them safe.
  void Viewport(float a_left, float a_right, float a_top, float a_bottom);
  void Orthogonal(int a_orthogonal);
  void Fov(float a_radians);

  // The camera pass: nothing when inactive or when the viewport covers no pixel; else the
  // depth buffer is cleared and the scene drawn into the viewport.
  void Render();

  // The viewport in pixels of a a_width by a_height screen: each fraction times the screen
  // size, in double, clamped to the screen (NaN counts as 0), truncated. False when the
  // rectangle is empty or inverted: the engine would keep the previous viewport instead.
  static bool ViewportPixels(unsigned a_width, unsigned a_height, float a_left, float a_right, float a_top,
                             float a_bottom, irr::core::rect<int>& a_pixels);

  std::string name;
  bool active = true;
  float left = 0.0f;
  float right = 1.0f;
  float top = 0.0f;
  float bottom = 1.0f;
  irr::scene::ICameraSceneNode* node = nullptr;
  objGraphics* owner;
};
