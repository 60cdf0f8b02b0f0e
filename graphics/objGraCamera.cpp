#include "graphics/objGraCamera.h"

#include <irrlicht.h>

#include <cmath>

#include "binding/gmNativeType.h"
#include "graphics/_gGraphics.h"
#include "graphics/graComponentList.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"

using namespace irr;

int objGraCamera::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraCamera> type(a_machine, "_ObjGraCamera");
  type.Method<float>("FarClip", &objGraCamera::FarClip);
  type.Method<void, float>("FarClip", &objGraCamera::FarClip);
  type.Method<gVector3>("Position", &objGraCamera::Position);
  type.Method<void, float, float, float>("Position", &objGraCamera::Position);
  type.Method("Activate", &objGraCamera::Activate);
  type.Method("Viewport", &objGraCamera::Viewport);
  type.Method("Orthogonal", &objGraCamera::Orthogonal);
  type.Method("Fov", &objGraCamera::Fov);
  return type.Register();
}

objGraCamera::objGraCamera(const char* a_name, objGraphics* a_owner) : name(a_name ? a_name : ""), owner(a_owner) {
  // Not made the scene's active camera here: every camera pass makes its own camera active.
  node = owner->sceneGraphics->sceneManager->addCameraSceneNode(owner->root, core::vector3df(0, 0, 0),
                                                                core::vector3df(0, 0, 100), -1, false);
  if (_gGraphics::instance) _gGraphics::instance->cameras.Append(this);
}

objGraCamera::~objGraCamera() {
  CutWrappers();
  if (_gGraphics::instance) graRemoveInOrder(_gGraphics::instance->cameras, this);
  scene::ISceneManager* manager = owner->sceneGraphics->sceneManager;
  if (manager->getActiveCamera() == node) manager->setActiveCamera(nullptr);
  node->remove();
}

float objGraCamera::FarClip() { return node->getFarValue(); }

void objGraCamera::FarClip(float a_far) { node->setFarValue(a_far); }

gVector3 objGraCamera::Position() {
  const core::vector3df position = node->getPosition();
  return gVector3(position.X, position.Y, position.Z);
}

void objGraCamera::Position(float a_x, float a_y, float a_z) { node->setPosition(core::vector3df(a_x, a_y, a_z)); }

void objGraCamera::Activate(int a_active) { active = a_active != 0; }

void objGraCamera::Viewport(float a_left, float a_right, float a_top, float a_bottom) {
  left = a_left;
  right = a_right;
  top = a_top;
  bottom = a_bottom;
}

// The engine has no setter for the flag alone; the projection stays as it is.
void objGraCamera::Orthogonal(int a_orthogonal) {
  node->setProjectionMatrix(node->getProjectionMatrix(), a_orthogonal != 0);
}

void objGraCamera::Fov(float a_radians) { node->setFOV(a_radians); }

bool objGraCamera::ViewportPixels(unsigned a_width, unsigned a_height, float a_left, float a_right, float a_top,
                                  float a_bottom, core::rect<s32>& a_pixels) {
  auto pixel = [](unsigned a_size, float a_fraction) {
    const double value = static_cast<double>(a_size) * static_cast<double>(a_fraction);
    if (!(value > 0.0)) return 0;  // NaN too
    return static_cast<int>(value < a_size ? value : a_size);
  };
  a_pixels = core::rect<s32>(pixel(a_width, a_left), pixel(a_height, a_top), pixel(a_width, a_right),
                             pixel(a_height, a_bottom));
  return a_pixels.LowerRightCorner.X > a_pixels.UpperLeftCorner.X &&
         a_pixels.LowerRightCorner.Y > a_pixels.UpperLeftCorner.Y;
}

void objGraCamera::Render() {
  if (!active) return;
  sceGraphics* scene = owner->sceneGraphics;
  video::IVideoDriver* driver = scene->sceneManager->getVideoDriver();
  const core::dimension2d<u32> screen = driver->getScreenSize();
  core::rect<s32> pixels;
  // An empty viewport would leave the previous camera's in force and draw over its picture.
  if (!ViewportPixels(screen.Width, screen.Height, left, right, top, bottom, pixels)) return;
  driver->clearZBuffer();
  driver->setViewPort(pixels);

  // The scene graph computes the camera's view before it animates the nodes' transforms,
  // so the root's and the camera's world transforms are brought up to date first. The
  // engine itself nudges an up vector parallel to the view direction.
  owner->root->updateAbsolutePosition();
  node->updateAbsolutePosition();
  const core::matrix4& world = node->getAbsoluteTransformation();
  core::vector3df forward(world[8], world[9], world[10]);
  core::vector3df up(world[4], world[5], world[6]);
  forward.normalize();
  up.normalize();
  node->setTarget(world.getTranslation() + forward);
  node->setUpVector(up);

  scene->sceneManager->setActiveCamera(node);
  if (_gGraphics::instance) _gGraphics::instance->RenderScene(scene);
}
