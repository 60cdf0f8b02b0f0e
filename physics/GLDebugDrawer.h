#pragma once
// Wire frames of the collision shapes of a world, drawn with OpenGL straight over each
// camera's picture of its scene while the scene's DrawDebug switch is on. Bullet is given the
// drawer too, for its own lines and contact points.
//
// A camera pass gathers every line and label of the world on the CPU, already in world
// coordinates, and sends them in one draw call each: a call per shape (or per glyph, as
// glBitmap labels are) costs more than the drawing itself under a software rasteriser.
//
// The drawing runs inside the engine's frame, which caches GL state (bound textures per
// unit, lighting, blending, the matrix mode, bound buffers): it saves every attribute first
// and restores it after, so nothing drawn later sees a stale cache.
#include <LinearMath/btIDebugDraw.h>

namespace irr {
namespace video {
class IVideoDriver;
}
}  // namespace irr
class btCollisionShape;
class btTransform;
class gScene;
class scePhysics;

class GLDebugDrawer : public btIDebugDraw {
 public:
  void drawLine(const btVector3& a_from, const btVector3& a_to, const btVector3& a_color) override;
  void drawContactPoint(const btVector3& a_point, const btVector3& a_normal, btScalar a_distance, int a_lifeTime,
                        const btVector3& a_color) override;
  void reportErrorWarning(const char* a_text) override;
  void draw3dText(const btVector3& a_location, const char* a_text) override;
  void setDebugMode(int a_mode) override { debugMode = a_mode; }
  int getDebugMode() const override { return debugMode; }

  // For the overlay hook of scene graphics, which the host installs: the scene's world when
  // its switch is on and the driver is OpenGL (the null driver has no GL context), inside a
  // saved GL state.
  static void DrawOverlay(gScene* a_scene, irr::video::IVideoDriver* a_driver);
  // Every collision object of the world, in the world's order. Needs a current GL context
  // with the camera's projection and view loaded, and texturing and lighting off.
  static void DrawWorld(scePhysics* a_physics);

  int debugMode = 0;
};
