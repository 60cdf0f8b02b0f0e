// Pictures of the real OpenGL renderer (Mesa's software rasteriser under a private Xvfb):
// each test builds a scene through scripts, renders one frame and reads the back buffer
// before it is presented.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "tests/graphics/graPictureFixture.h"

namespace {

using graphicsTest::Rgb;
constexpr int kWidth = graphicsTest::kPictureWidth;
constexpr int kHeight = graphicsTest::kPictureHeight;

class GraphicsPictureTest : public graphicsTest::PictureFixture {
 protected:
  void SetUp() override {
    if (const char* why = StartPicture()) GTEST_SKIP() << why;
    Run("global cube = \"" + Fixture("cube.obj") + "\"; global tint = \"" + Fixture("tint.png") +
        "\"; global checker = \"" + Fixture("checker.bmp") + "\";");
  }
  static std::string Fixture(const char* a_name) { return std::string(OMBRIX_GRAPHICS_FIXTURES) + "/" + a_name; }

  // A scene with a camera and, 30 units in front of it, a cube textured with a_texture.
  // Objects without a body stand at the origin, so the mesh is placed instead. The mesh
  // loader gives the cube's material an ambient reflectance of 0.2: with the scene's white
  // ambient light and no lamp it shows a fifth of its texture.
  void CubeScene(const char* a_scene, const char* a_texture) {
    const std::string s = a_scene;
    Run("NewScene(\"" + s +
        "\");"
        "global " +
        s + "Eye = " + s + ".NewObject(\"eye\"); " + s + "Eye.Graphics.NewCamera(\"c\");" + "global " + s +
        "Box = " + s + ".NewObject(\"box\"); " + s + "Box.Graphics.NewMesh(\"m\", Graphics.NewMesh(cube));" + s +
        "Box.Graphics.Mesh(\"m\").Texture(Graphics.NewTexture(" + a_texture + "));" + s +
        "Box.Graphics.Mesh(\"m\").Position(0, 0, 30);");
  }
};

::testing::AssertionResult Near(const Rgb& a_pixel, const Rgb& a_expected, int a_tolerance = 8) {
  if (std::abs(a_pixel.r - a_expected.r) <= a_tolerance && std::abs(a_pixel.g - a_expected.g) <= a_tolerance &&
      std::abs(a_pixel.b - a_expected.b) <= a_tolerance)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "pixel (" << a_pixel.r << ", " << a_pixel.g << ", " << a_pixel.b
                                       << "), expected (" << a_expected.r << ", " << a_expected.g << ", "
                                       << a_expected.b << ")";
}

const Rgb kClear{0, 0, 0};
const Rgb kTint{50, 50, 50};
const Rgb kRed{50, 0, 0};
const Rgb kBlue{0, 0, 50};

TEST_F(GraphicsPictureTest, TexturedMeshInTheCentreOnlyThroughACamera) {
  CubeScene("world", "tint");
  Run("worldEye.Graphics.Camera(\"c\").Activate(0);");
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kClear));
  Run("worldEye.Graphics.Camera(\"c\").Activate(1);");
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kTint));
  EXPECT_TRUE(Near(At(kWidth / 2 + 25, kHeight / 2 - 25), kTint));
  EXPECT_TRUE(Near(At(5, 5), kClear));
  EXPECT_TRUE(Near(At(kWidth / 2 + 45, kHeight / 2), kClear));
}

TEST_F(GraphicsPictureTest, ALightBrightensALitMesh) {
  CubeScene("world", "tint");
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kTint));
  Run("worldEye.Graphics.NewLight(\"l\");");
  Draw();
  // The lamp at the camera shines straight on the near face.
  const Rgb lit = At(kWidth / 2, kHeight / 2);
  EXPECT_GT(lit.r, 200);
  EXPECT_TRUE(Near(lit, Rgb{lit.r, lit.r, lit.r}, 2));
  Run("worldEye.Graphics.DelLight(\"l\");");
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kTint));
}

TEST_F(GraphicsPictureTest, ViewportsTakeTheirPartOfTheScreen) {
  CubeScene("world", "checker");
  Run("worldEye.Graphics.Camera(\"c\").Viewport(0, 0.5, 0, 1);");
  Draw();
  // The checker's four blocks around the centre of the left half.
  const int x = kWidth / 4, y = kHeight / 2;
  const Rgb a = At(x - 8, y - 16), b = At(x + 8, y - 16), c = At(x - 8, y + 16), d = At(x + 8, y + 16);
  EXPECT_TRUE(Near(a, d));
  EXPECT_TRUE(Near(b, c));
  EXPECT_FALSE(Near(a, b));
  EXPECT_TRUE(Near(a, kRed) || Near(a, kBlue));
  EXPECT_TRUE(Near(At(kWidth * 3 / 4, y), kClear));
  // An empty viewport draws nothing anywhere rather than over the whole screen.
  Run("worldEye.Graphics.Camera(\"c\").Viewport(0.7, 0.2, 0, 1);");
  Draw();
  EXPECT_TRUE(Near(At(x, y), kClear));
  EXPECT_TRUE(Near(At(kWidth / 2, y), kClear));
}

// Cameras draw from the newest to the oldest and clear only depth, so the older camera's
// picture covers the newer one where both draw.
TEST_F(GraphicsPictureTest, TheOlderCamerasSceneIsDrawnOnTop) {
  CubeScene("first", "tint");
  CubeScene("second", "checker");
  Run("secondBox.Graphics.Mesh(\"m\").Position(0, 0, 15);");  // nearer, so larger
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kTint));
  const Rgb outer = At(kWidth / 2 + 50, kHeight / 2 + 50);
  EXPECT_TRUE(Near(outer, kRed) || Near(outer, kBlue));
  Run("firstEye.Delete();");
  Draw();
  const Rgb centre = At(kWidth / 2 + 20, kHeight / 2 + 20);
  EXPECT_TRUE(Near(centre, kRed) || Near(centre, kBlue));
}

TEST_F(GraphicsPictureTest, TextInABitmapFont) {
  Run("global t = Graphics.NewText(\"AA\", 10, 20, \"" + Fixture("blockfont.xml") +
      "\");"
      "Graphics.SetTextColor(t, 0, 1, 0, 1);"
      "Graphics.NewText(\"AA\", 100, 100, \"nofont.xml\");");
  Draw();
  const Rgb green{0, 255, 0};
  EXPECT_TRUE(Near(At(13, 25), green));
  EXPECT_TRUE(Near(At(21, 25), green));  // the second glyph follows the first
  EXPECT_TRUE(Near(At(5, 25), kClear));
  EXPECT_TRUE(Near(At(13, 40), kClear));
  EXPECT_TRUE(Near(At(104, 104), kClear));
}

// Effects: a camera 30 units behind the origin, where an object shows the effect.
class GraphicsEffectPictureTest : public GraphicsPictureTest {
 protected:
  void SetUp() override {
    GraphicsPictureTest::SetUp();
    if (IsSkipped()) return;
    Run("NewScene(\"world\"); global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\");"
        "eye.Graphics.Camera(\"c\").Position(0, 0, -30); global fx = world.NewObject(\"fx\").Graphics;");
    // Particle systems run on the engine's clock, which the tests move by hand.
    device->getTimer()->stop();
  }
  void Advance(irr::u32 a_milliseconds) { device->getTimer()->setTime(device->getTimer()->getTime() + a_milliseconds); }
};

TEST_F(GraphicsEffectPictureTest, ABillboardShadedFromTopToBottom) {
  Run("fx.NewBillboard(\"b\"); global b = fx.Billboard(\"b\"); b.Size(20, 20);"
      "b.TopColor(1, 0, 0, 1); b.BottomColor(0, 0, 1, 1);");
  Draw();
  const Rgb top = At(kWidth / 2, kHeight / 2 - 45), bottom = At(kWidth / 2, kHeight / 2 + 45);
  EXPECT_GT(top.r, 180);
  EXPECT_LT(top.b, 70);
  EXPECT_GT(bottom.b, 180);
  EXPECT_LT(bottom.r, 70);
  EXPECT_TRUE(Near(At(kWidth / 2 + 80, kHeight / 2), kClear));
}

TEST_F(GraphicsEffectPictureTest, ABeamBetweenTwoPointsGoneWhenDeleted) {
  Run("fx.NewBeam(\"z\"); global z = fx.Beam(\"z\"); z.From(-10, 0, 0); z.To(10, 0, 0); z.Size(1);"
      "z.Color(0, 1, 0, 1);");
  Draw();
  const Rgb green{0, 255, 0};
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), green));
  EXPECT_TRUE(Near(At(kWidth / 2 - 50, kHeight / 2), green));
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2 - 20), kClear));  // two units wide, no more
  EXPECT_TRUE(Near(At(kWidth / 2 + 90, kHeight / 2), kClear));  // and ten long each way
  Run("fx.DelBeam(\"z\");");
  Draw();
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), kClear));
}

TEST_F(GraphicsEffectPictureTest, ColouredParticlesCoverTheView) {
  Run("fx.NewParticles(\"p\"); global p = fx.Particles(\"p\"); p.Position(0, -29, 0);"
      "p.Direction(0, 0, 0); p.Gravity(0, 0, 0); p.Size(40, 40); p.MinPerSecond(400); p.MaxPerSecond(400);"
      "p.MinLifeTime(60000); p.MaxLifeTime(60000); p.MinStartColor(1, 0.5, 0, 1); p.MaxStartColor(1, 0.5, 0, 1);");
  Draw();
  for (int i = 0; i < 3; ++i) {
    Advance(500);
    Draw();
  }
  const Rgb orange{255, 127, 0};
  EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), orange));
  EXPECT_TRUE(Near(At(kWidth / 2 - 60, kHeight / 2 + 40), orange));
  EXPECT_TRUE(Near(At(kWidth / 2 + 60, kHeight / 2 - 40), orange));
}

// The sky box's faces as a camera turned by its object sees them.
TEST_F(GraphicsEffectPictureTest, TheSkyBoxFaceEachWayALookGoes) {
  Run("world.Graphics.SkyBox(\"" + Fixture("sky.png") + "\"); eye.Graphics.Camera(\"c\").Position(0, 0, 0);");
  objGraphics* eye = Native<objGraphics>("eye.Graphics");
  const struct {
    const char* look;
    float basis[3][3];
    Rgb face;
  } cases[] = {
      {"+Z (back)", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, Rgb{250, 0, 250}},
      {"-Z (front)", {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}, Rgb{0, 0, 250}},
      {"+X (left)", {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}, Rgb{250, 0, 0}},
      {"-X (right)", {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}}, Rgb{0, 250, 0}},
      {"+Y (top)", {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}}, Rgb{250, 250, 0}},
  };
  for (const auto& c : cases) {
    gPose pose;
    std::copy(&c.basis[0][0], &c.basis[0][0] + 9, &pose.basis[0][0]);
    eye->SyncTransform(pose);
    graphics->RenderFrame();  // without the scene step, which would put the identity pose back
    pixels.assign(kWidth * kHeight * 4, 0);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    EXPECT_TRUE(Near(At(kWidth / 2, kHeight / 2), c.face)) << c.look;
  }
}

// Our packages' skies are painted for a layout where the engine's side faces come out
// mirrored and its top and bottom turned half round: each face is drawn the other way round
// from the engine's own mapping.
TEST_F(GraphicsEffectPictureTest, TheSkyBoxFacesAreTheOtherWayRoundFromTheEngines) {
  Run("world.Graphics.SkyBox(\"" + Fixture("half.png") + "\"); eye.Graphics.Camera(\"c\").Position(0, 0, 0);");
  objGraphics* eye = Native<objGraphics>("eye.Graphics");
  irr::scene::ISceneNode* sky = Native<sceGraphics>("world.Graphics")->skyBox;
  const float forward[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  const float up[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
  // Across the side face the picture's halves lie left and right; across the top, whose
  // picture runs along the view's vertical, above and below.
  for (const auto* basis : {forward, up}) {
    const bool cap = basis == up;
    gPose pose;
    std::copy(&basis[0][0], &basis[0][0] + 9, &pose.basis[0][0]);
    eye->SyncTransform(pose);
    Rgb left[2], right[2];
    for (int engine = 0; engine < 2; ++engine) {
      if (engine)
        for (irr::u32 i = 0; i < sky->getMaterialCount(); ++i) sky->getMaterial(i).getTextureMatrix(0).makeIdentity();
      graphics->RenderFrame();
      pixels.assign(kWidth * kHeight * 4, 0);
      glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
      left[engine] = cap ? At(kWidth / 2 + 10, kHeight / 2 - 40) : At(kWidth / 2 - 40, kHeight / 2 + 10);
      right[engine] = cap ? At(kWidth / 2 + 10, kHeight / 2 + 40) : At(kWidth / 2 + 40, kHeight / 2 + 10);
    }
    EXPECT_TRUE(Near(left[0], right[1])) << (cap ? "top" : "back");
    EXPECT_TRUE(Near(right[0], left[1])) << (cap ? "top" : "back");
    EXPECT_FALSE(Near(left[0], right[0], 40)) << (cap ? "top" : "back");
    Run("world.Graphics.SkyBox(\"" + Fixture("half.png") + "\");");
    sky = Native<sceGraphics>("world.Graphics")->skyBox;
  }
}

}  // namespace
