// The wire frames of a world's bodies over the camera's picture: drawn by the real OpenGL
// renderer (Mesa under a private Xvfb) and read from the back buffer before it is
// presented; and nothing at all with the null driver, which has no GL context.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Bullet's inline btBoxShape::getPlane reads a btVector4 GCC cannot see filled in.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <btBulletDynamicsCommon.h>
#pragma GCC diagnostic pop

#include "physics/GLDebugDrawer.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "tests/graphics/graPictureFixture.h"

namespace {

using graphicsTest::Rgb;
constexpr int kWidth = graphicsTest::kPictureWidth;
constexpr int kHeight = graphicsTest::kPictureHeight;

const Rgb kOrange{255, 128, 0};
const Rgb kWhite{255, 255, 255};
// The fixture cube's texture at the fifth the scene's ambient light gives it.
const Rgb kTint{50, 50, 50};

class PhysicsDebugDrawTest : public graphicsTest::PictureFixture {
 protected:
  // A camera at the origin looking along +Z; 30 units ahead a textured cube of 10 units (a
  // mesh of an object whose body stays at the origin) inside the box of another body, 14
  // units wide; the world's debug drawing on.
  void BoxScene() {
    const std::string fixtures = OMBRIX_GRAPHICS_FIXTURES;
    Run("NewScene(\"world\");"
        "global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\");"
        "global cube = world.NewObject(\"cube\"); cube.Graphics.NewMesh(\"m\", Graphics.NewMesh(\"" +
        fixtures + "/cube.obj\")); cube.Graphics.Mesh(\"m\").Texture(Graphics.NewTexture(\"" + fixtures +
        "/tint.png\"));"
        "cube.Graphics.Mesh(\"m\").Position(0, 0, 30);"
        "global frame = world.NewObject(\"frame\"); frame.Physics.NewBox(\"b\");"
        "frame.Physics.Box(\"b\").Dimensions(7, 7, 7); frame.Physics.Position(0, 0, 30);"
        "world.Physics.DrawDebug(1);");
  }
};

TEST_F(PhysicsDebugDrawTest, NullDriverDrawsNothingAndGoesOn) {
  withPhysics = true;
  ASSERT_TRUE(Start(irr::video::EDT_NULL, kWidth, kHeight));
  BoxScene();
  // Without a GL context any GL call would go nowhere or crash: the frames must simply run.
  for (int i = 0; i < 3; ++i) Frame();
  EXPECT_TRUE(LogEntries().empty());
  EXPECT_TRUE(console.empty());
}

class PhysicsDebugPictureTest : public PhysicsDebugDrawTest {
 protected:
  void SetUp() override {
    if (const char* why = StartPicture(true)) GTEST_SKIP() << why;
  }
};

TEST_F(PhysicsDebugPictureTest, BoxOutlineInOrangeOverATexturedSceneThatStaysAsItWas) {
  BoxScene();
  for (int frame = 0; frame < 2; ++frame) {
    Draw();
    // Lines left textured by the cube's texture, or lit, would not come out orange.
    EXPECT_GT(Count(kOrange), 100) << "frame " << frame;
    // The numbers of the box's corners and faces.
    EXPECT_GT(Count(kWhite), 10) << "frame " << frame;
    // The cube inside keeps its texture in the next frame too: the engine's state cache
    // still matches the GL state after the drawing.
    EXPECT_TRUE(At(kWidth / 2, kHeight / 2).Near(kTint, 8)) << "frame " << frame;
  }
  Run("world.Physics.DrawDebug(0);");
  Draw();
  EXPECT_EQ(Count(kOrange), 0);
  EXPECT_EQ(Count(kWhite), 0);
}

TEST_F(PhysicsDebugPictureTest, SpheresAndCapsulesAreDrawnInTheirBodysFrame) {
  // Each shape alone in its part of the picture (looking along +Z, +X is to the right and +Y
  // up); the body's quarter turn about +Z moves the sphere from the right of the body to
  // above it.
  Run("NewScene(\"world\"); global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\");"
      "global body = world.NewObject(\"body\"); body.Physics.NewSphere(\"s\"); body.Physics.Sphere(\"s\").Radius(3);"
      "body.Physics.Sphere(\"s\").Position(8, 0, 0); body.Physics.Position(0, 0, 30);"
      "global pole = world.NewObject(\"pole\"); pole.Physics.NewCapsule(\"c\");"
      "pole.Physics.Capsule(\"c\").Radius(1); pole.Physics.Capsule(\"c\").Height(6); pole.Physics.Position(-10, 8, 30);"
      "world.Physics.DrawDebug(1);");
  const auto orangeIn = [this](int a_x0, int a_y0, int a_x1, int a_y1) {
    int count = 0;
    for (int y = a_y0; y < a_y1; ++y)
      for (int x = a_x0; x < a_x1; ++x) count += At(x, y).Near(kOrange) ? 1 : 0;
    return count;
  };
  const int right[4] = {kWidth / 2 + 20, kHeight / 3, kWidth, 2 * kHeight / 3};
  const int above[4] = {kWidth / 2 - 20, 0, kWidth / 2 + 20, kHeight / 2 - 10};
  Draw();
  EXPECT_GT(orangeIn(right[0], right[1], right[2], right[3]), 50) << "the sphere right of the body";
  EXPECT_EQ(orangeIn(above[0], above[1], above[2], above[3]), 0);
  EXPECT_GT(orangeIn(0, 0, kWidth / 2 - 20, kHeight / 2), 50) << "the capsule above on the left";
  Run("body.Physics.AxisAngle(Vector3(0, 0, 1), 90);");
  Draw();
  EXPECT_GT(orangeIn(above[0], above[1], above[2], above[3]), 50) << "the sphere above the body";
  EXPECT_EQ(orangeIn(right[0], right[1], right[2], right[3]), 0);
}

TEST_F(PhysicsDebugPictureTest, LabelsLandPixelForPixelWhereBitmapTextWould) {
  // A turned box in front of a plain GL camera of our own (looking along -Z), drawn once by
  // the overlay and once as the labels alone through glRasterPos and glBitmap.
  Run("NewScene(\"world\"); global frame = world.NewObject(\"frame\"); frame.Physics.NewBox(\"b\");"
      "frame.Physics.Box(\"b\").Dimensions(9, 9, 9); frame.Physics.Position(1, 0, -30);"
      "frame.Physics.AxisAngle(Vector3(1, 2, 0), 35); world.Physics.DrawDebug(1);");
  Frame();
  gScene* scene = static_cast<gScene*>(gScene::Registry().Get(0));
  ASSERT_TRUE(scene && scene->physics);
  const auto camera = [] {
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-0.4, 0.4, -0.3, 0.3, 1, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  };
  const auto whitePixels = [this] {
    pixels.assign(kWidth * kHeight * 4, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    std::vector<int> white;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        if (At(x, y).Near(kWhite, 0)) white.push_back(y * kWidth + x);
    return white;
  };

  camera();
  GLDebugDrawer::DrawOverlay(scene, device->getVideoDriver());
  const std::vector<int> overlay = whitePixels();

  camera();
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  for (GLint unit = 0; unit < 4; ++unit) {
    glActiveTexture(GL_TEXTURE0 + unit);
    glDisable(GL_TEXTURE_2D);
  }
  glDisable(GL_LIGHTING);
  glColor3f(1, 1, 1);
  const btCollisionObject* body = scene->physics->world->getCollisionObjectArray()[0];
  const btCompoundShape* compound = static_cast<const btCompoundShape*>(body->getCollisionShape());
  const btPolyhedralConvexShape* box = static_cast<const btPolyhedralConvexShape*>(compound->getChildShape(0));
  const btTransform at = body->getWorldTransform() * compound->getChildTransform(0);
  GLDebugDrawer text;
  char label[32];
  for (int i = 0; i < box->getNumVertices(); ++i) {
    btVector3 vertex;
    box->getVertex(i, vertex);
    std::snprintf(label, sizeof label, " %d", i);
    text.draw3dText(at(vertex), label);
  }
  for (int i = 0; i < box->getNumPlanes(); ++i) {
    btVector3 normal, support;
    box->getPlane(normal, support, i);
    std::snprintf(label, sizeof label, " plane %d", i);
    text.draw3dText(at(normal * normal.dot(support)), label);
  }
  glPopAttrib();
  const std::vector<int> bitmaps = whitePixels();

  EXPECT_GT(bitmaps.size(), 100u);
  EXPECT_EQ(overlay, bitmaps);
}

}  // namespace
