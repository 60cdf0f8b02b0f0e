// The graphics rules on the null driver: conversions of script values, viewports, the order
// of cameras and components, the console messages, and what wrappers of deleted components
// still reach.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "graphics/graConvert.h"
#include "graphics/graResources.h"
#include "graphics/objGraCamera.h"
#include "graphics/objGraLight.h"
#include "graphics/objGraMesh.h"
#include "tests/graphics/graphicsFixture.h"

namespace {

using irr::core::rect;
using Strings = std::vector<std::string>;

TEST(GraphicsConvert, ScriptColorChannels) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float value;
    irr::u32 channel;
  } cases[] = {
      {0.0f, 0},    {1.0f, 255}, {0.5f, 127}, {0.999f, 254}, {2.0f, 254},  // 510 wraps to its low 8 bits
      {-0.5f, 129},                                                        // -127 in two's complement
      {nan, 0},     {inf, 255},  {-inf, 0},   {1e30f, 255},  {-1e30f, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(graColorChannel(c.value), c.channel) << c.value;
  EXPECT_EQ(graScriptColor(1.0f, 0.5f, 0.0f, 0.25f), 0x3FFF7F00u);
}

TEST(GraphicsConvert, WideTextKeepsEveryByte) {
  EXPECT_EQ(graWideText("Score: 10"), L"Score: 10");
  EXPECT_EQ(graWideText(""), L"");
  EXPECT_EQ(graWideText(nullptr), L"");
  // Bytes the C locale cannot convert stay one character each, and the text goes on.
  const std::wstring wide = graWideText(
      "a\xE9\xFF"
      "b");
  EXPECT_EQ(wide, (std::wstring{L'a', wchar_t(0xE9), wchar_t(0xFF), L'b'}));
}

TEST(GraphicsViewport, FractionsBecomeSafePixels) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float left, right, top, bottom;
    bool draws;
    rect<int> pixels;
  } cases[] = {
      {0, 0.5f, 0, 1, true, rect<int>(0, 0, 512, 768)},
      {0, 1, 0, 1, true, rect<int>(0, 0, 1024, 768)},
      {0.25f, 0.75f, 0.25f, 0.75f, true, rect<int>(256, 192, 768, 576)},
      {-1, 2, -5, 1e30f, true, rect<int>(0, 0, 1024, 768)},  // clamped to the screen
      {nan, 0.5f, 0, nan, false, rect<int>(0, 0, 512, 0)},   // NaN counts as 0
      {0.5f, 0.5f, 0, 1, false, rect<int>(512, 0, 512, 768)},
      {0.8f, 0.2f, 0, 1, false, rect<int>(819, 0, 204, 768)},  // inverted
      {0, 1, 0.0001f, 0.0002f, false, rect<int>(0, 0, 1024, 0)},
  };
  for (const auto& c : cases) {
    rect<int> pixels;
    EXPECT_EQ(objGraCamera::ViewportPixels(1024, 768, c.left, c.right, c.top, c.bottom, pixels), c.draws)
        << c.left << " " << c.right << " " << c.top << " " << c.bottom;
    EXPECT_EQ(pixels, c.pixels) << c.left << " " << c.right << " " << c.top << " " << c.bottom;
  }
}

class GraphicsTest : public graphicsTest::Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Start(irr::video::EDT_NULL));
    Run("NewScene(\"world\"); global ob = world.NewObject(\"ob\"); global g = ob.Graphics;");
  }
  // Names of the module's cameras, in list order.
  Strings ModuleCameras() {
    Strings names;
    for (int i = 0; i < graphics->cameras.count; ++i)
      names.push_back(static_cast<objGraCamera*>(graphics->cameras.Get(i))->name);
    return names;
  }
  std::string FixturePath(const char* a_name) { return std::string(OMBRIX_GRAPHICS_FIXTURES) + "/" + a_name; }
};

TEST_F(GraphicsTest, ScreenQueries) {
  EXPECT_EQ(Eval("Graphics.Width(), Graphics.Height(), Graphics.Ratio()"), "1024 768 1.33333");
  EXPECT_FLOAT_EQ(graphics->Ratio(), 1.3333334f);
}

TEST_F(GraphicsTest, EveryLoadMakesANewHandleOnTheSharedResource) {
  const std::string texture = FixturePath("checker.bmp");
  graTexture* a = Native<graTexture>("Graphics.NewTexture(\"" + texture + "\")");
  graTexture* b = Native<graTexture>("Graphics.NewTexture(\"" + texture + "\")");
  graTexture* missing = Native<graTexture>("Graphics.NewTexture(\"nothere.png\")");
  ASSERT_TRUE(a && b && missing);
  EXPECT_NE(a, b);
  EXPECT_NE(a->texture, nullptr);
  EXPECT_EQ(a->texture, b->texture);
  EXPECT_EQ(missing->texture, nullptr);

  graMesh* cube = Native<graMesh>("Graphics.NewMesh(\"" + FixturePath("cube.obj") + "\")");
  graMesh* again = Native<graMesh>("Graphics.NewMesh(\"" + FixturePath("cube.obj") + "\")");
  ASSERT_TRUE(cube && again && cube->mesh);
  EXPECT_NE(cube, again);
  EXPECT_EQ(cube->mesh, again->mesh);
  EXPECT_EQ(Native<graMesh>("Graphics.NewMesh(\"nothere.obj\")")->mesh, nullptr);
  EXPECT_EQ(graphics->textures.count, 3);
  EXPECT_EQ(graphics->meshes.count, 3);
}

TEST_F(GraphicsTest, CamerasKeepCreationOrderAndNamesFindNewestDeleteOldest) {
  Run("g.NewCamera(\"a\"); g.NewCamera(\"b\"); g.NewCamera(\"a\"); g.NewCamera(\"c\");");
  objGraphics* og = Native<objGraphics>("g");
  objGraCamera* newestA = static_cast<objGraCamera*>(og->cameras.Get(2));
  EXPECT_EQ(Native<objGraCamera>("g.Camera(\"a\")"), newestA);
  EXPECT_EQ(Native<objGraCamera>("g.Camera(\"A\")"), nullptr);

  Run("g.DelCamera(\"a\");");  // the oldest a
  EXPECT_EQ(ModuleCameras(), (Strings{"b", "a", "c"}));
  EXPECT_EQ(Native<objGraCamera>("g.Camera(\"a\")"), newestA);
  Run("g.DelCamera(\"b\"); g.DelCamera(\"nothing\");");
  EXPECT_EQ(ModuleCameras(), (Strings{"a", "c"}));
  EXPECT_EQ(og->cameras.Get(0), newestA);

  // A second object's cameras join the one list in creation order.
  Run("global other = world.NewObject(\"other\"); other.Graphics.NewCamera(\"o\"); g.NewCamera(\"d\");");
  EXPECT_EQ(ModuleCameras(), (Strings{"a", "c", "o", "d"}));
  Run("other.Delete();");
  Frame();
  EXPECT_EQ(ModuleCameras(), (Strings{"a", "c", "d"}));
}

TEST_F(GraphicsTest, LightsAndMeshesFollowTheSameNameRules) {
  const std::string cube = "global cube = Graphics.NewMesh(\"" + FixturePath("cube.obj") + "\");";
  Run(cube + "g.NewLight(\"l\"); g.NewLight(\"l\"); g.NewMesh(\"m\", cube); g.NewMesh(\"m\", cube);");
  objGraphics* og = Native<objGraphics>("g");
  void* secondLight = og->lights.Get(1);
  void* secondMesh = og->meshes.Get(1);
  EXPECT_EQ(Native<objGraLight>("g.Light(\"l\")"), secondLight);
  EXPECT_EQ(Native<objGraMesh>("g.Mesh(\"m\")"), secondMesh);
  Run("g.DelLight(\"l\"); g.DelMesh(\"m\");");
  EXPECT_EQ(og->lights.count, 1);
  EXPECT_EQ(og->lights.Get(0), secondLight);
  EXPECT_EQ(og->meshes.Get(0), secondMesh);
  EXPECT_EQ(og->root->getChildren().size(), 2u);
}

TEST_F(GraphicsTest, EmptyMeshAndMissingTextureMessages) {
  const std::string cube = FixturePath("cube.obj");
  Run("global missing = Graphics.NewMesh(\"nothere.obj\"); g.NewMesh(\"m\", missing);");
  // The file is named once where it is loaded; the component says what it was given.
  EXPECT_EQ(console, (Strings{"nothere.obj not found (Graphics.NewMesh, unknown(1))", "mesh is empty"}));
  // Lookups that find nothing give a wrapper of nothing, as every null pointer result does.
  EXPECT_EQ(Native<objGraMesh>("g.Mesh(\"m\")"), nullptr);
  EXPECT_EQ(Native<objGraphics>("g")->meshes.count, 0);

  Run("g.NewMesh(\"cube\", Graphics.NewMesh(\"" + cube +
      "\"));"
      "global checker = Graphics.NewTexture(\"" +
      FixturePath("checker.bmp") +
      "\");"
      "g.Mesh(\"cube\").Texture(checker);"
      "g.Mesh(\"cube\").Texture(Graphics.NewTexture(\"nothere.png\"));");
  EXPECT_EQ(console, (Strings{"nothere.obj not found (Graphics.NewMesh, unknown(1))", "mesh is empty",
                              "nothere.png not found (Graphics.NewTexture, unknown(1))", "Missing texture"}));
  // Asked for again, the missing file is not named again; the component still says so.
  Run("g.Mesh(\"cube\").Texture(Graphics.NewTexture(\"nothere.png\"));");
  EXPECT_EQ(console.back(), "Missing texture");
  EXPECT_EQ(console.size(), 5u);
  irr::scene::IAnimatedMeshSceneNode* node = Native<objGraMesh>("g.Mesh(\"cube\")")->node;
  EXPECT_EQ(node->getMaterial(0).getTexture(0), Native<graTexture>("checker")->texture);
  // A handle of another kind is refused before it reaches the mesh.
  Run("g.Mesh(\"cube\").Texture(Graphics.NewMesh(\"" + cube + "\"));");
  EXPECT_EQ(node->getMaterial(0).getTexture(0), Native<graTexture>("checker")->texture);
}

// broken.obj names a vertex far past its three: the engine's loader reads out of bounds and
// crashes on it. The player tries it in a throwaway process, says so once, and goes on as
// for a missing file.
TEST_F(GraphicsTest, AFileThatCrashesItsLoaderIsReportedOnceAndLeftOut) {
  const std::string broken = FixturePath("broken.obj");
  Run("global a = Graphics.NewMesh(\"" + broken + "\"); global b = Graphics.NewMesh(\"" + broken +
      "\");"
      "g.NewMesh(\"m\", a);");
  EXPECT_EQ(Native<graMesh>("a")->mesh, nullptr);
  EXPECT_EQ(Native<graMesh>("b")->mesh, nullptr);
  EXPECT_EQ(console,
            (Strings{broken + " is damaged: the mesh loader crashed on it, so it was not loaded", "mesh is empty"}));
  // A file that loads is still loaded after the trial.
  EXPECT_NE(Native<graMesh>("Graphics.NewMesh(\"" + FixturePath("cube.obj") + "\")")->mesh, nullptr);
}

TEST_F(GraphicsTest, MeshMaterialsAndTransparency) {
  Run("g.NewMesh(\"m\", Graphics.NewMesh(\"" + FixturePath("cube.obj") + "\"));");
  irr::scene::IAnimatedMeshSceneNode* node = Native<objGraMesh>("g.Mesh(\"m\")")->node;
  const irr::video::SMaterial& material = node->getMaterial(0);
  EXPECT_TRUE(material.Lighting);
  EXPECT_TRUE(material.NormalizeNormals);
  const struct {
    int mode;
    irr::video::E_MATERIAL_TYPE type;
  } cases[] = {{1, irr::video::EMT_TRANSPARENT_ADD_COLOR},
               {3, irr::video::EMT_TRANSPARENT_ADD_COLOR},  // unknown: unchanged
               {2, irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL},
               {-1, irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL},
               {0, irr::video::EMT_SOLID}};
  for (const auto& c : cases) {
    Run("g.Mesh(\"m\").Transparency(" + std::to_string(c.mode) + ");");
    EXPECT_EQ(node->getMaterial(0).MaterialType, c.type) << c.mode;
  }
}

TEST_F(GraphicsTest, CameraAndLightSettings) {
  Run("g.NewCamera(\"c\"); global c = g.Camera(\"c\");"
      "c.Position(1, 2, 3); c.FarClip(500); c.Viewport(0.1, 0.2, 0.3, 0.4); c.Orthogonal(1); c.Fov(0.5);"
      "g.NewLight(\"l\"); global l = g.Light(\"l\"); l.Radius(40); l.DiffuseColor(0.5, 2, -1, 1);");
  EXPECT_EQ(Eval("c.Position().X(), c.Position().Z(), c.FarClip(), l.Radius()"), "1 3 500 40");
  objGraCamera* camera = Native<objGraCamera>("c");
  EXPECT_TRUE(camera->node->isOrthogonal());
  EXPECT_FLOAT_EQ(camera->node->getFOV(), 0.5f);
  EXPECT_FLOAT_EQ(camera->right, 0.2f);
  const irr::video::SLight& light = Native<objGraLight>("l")->node->getLightData();
  EXPECT_EQ(light.DiffuseColor.g, 2.0f);  // light colours stay floats
  EXPECT_EQ(light.SpecularColor.r, 0.0f);
  EXPECT_EQ(light.SpecularColor.a, 1.0f);
}

// The root carries the body's whole pose with the object's scale beneath it; cameras look
// along the object's forward axis.
TEST_F(GraphicsTest, PoseScaleAndCameraDirection) {
  Run("g.Scale(2, 2, 2); g.NewMesh(\"m\", Graphics.NewMesh(\"" + FixturePath("cube.obj") +
      "\"));"
      "g.Mesh(\"m\").Position(1, 0, 0); g.NewCamera(\"c\"); g.Camera(\"c\").Position(0, 0, 1);");
  objGraphics* og = Native<objGraphics>("g");
  gPose pose;
  // A quarter turn about the up axis: local Z points along world +X, local X along -Z.
  const float basis[3][3] = {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}};
  std::copy(&basis[0][0], &basis[0][0] + 9, &pose.basis[0][0]);
  pose.origin[0] = 10;
  pose.origin[1] = 20;
  og->SyncTransform(pose);
  graphics->RenderFrame();

  objGraMesh* mesh = Native<objGraMesh>("g.Mesh(\"m\")");
  mesh->node->updateAbsolutePosition();
  const irr::core::vector3df meshAt = mesh->node->getAbsolutePosition();
  EXPECT_NEAR(meshAt.X, 10, 1e-4);
  EXPECT_NEAR(meshAt.Y, 20, 1e-4);
  EXPECT_NEAR(meshAt.Z, -2, 1e-4);

  objGraCamera* camera = Native<objGraCamera>("g.Camera(\"c\")");
  const irr::core::vector3df eye = camera->node->getAbsolutePosition();
  const irr::core::vector3df look = camera->node->getTarget() - eye;
  EXPECT_NEAR(eye.X, 12, 1e-4);
  EXPECT_NEAR(look.X, 1, 1e-4);
  EXPECT_NEAR(look.Z, 0, 1e-4);
  EXPECT_NEAR(camera->node->getUpVector().Y, 1, 1e-4);
}

// Every kind of wrapper kept past its native's deletion calls nothing.
TEST_F(GraphicsTest, WrappersOfDeletedComponentsReachNothing) {
  Run("g.NewCamera(\"c\"); g.NewLight(\"l\"); g.NewMesh(\"m\", Graphics.NewMesh(\"" + FixturePath("cube.obj") +
      "\"));"
      "global c = g.Camera(\"c\"); global l = g.Light(\"l\"); global m = g.Mesh(\"m\");"
      "g.DelCamera(\"c\"); g.DelLight(\"l\"); g.DelMesh(\"m\");");
  EXPECT_EQ(Eval("c.FarClip(), l.Radius(), m.Position(1, 2, 3), c.Activate(1)"), "null null null null");
  EXPECT_TRUE(graphics->cameras.count == 0);

  Run("g.NewCamera(\"c\"); g.NewMesh(\"m\", Graphics.NewMesh(\"" + FixturePath("cube.obj") +
      "\")); global c = g.Camera(\"c\"); global m = g.Mesh(\"m\"); ob.Delete();");
  Frame();
  EXPECT_EQ(Eval("c.FarClip(), m.Transparency(1), g.NewCamera(\"x\")"), "null null null");
  EXPECT_EQ(Native<objGraCamera>("g.Camera(\"c\")"), nullptr);
  EXPECT_EQ(graphics->cameras.count, 0);
  Frame();
}

TEST_F(GraphicsTest, ComponentsNeedTheirOwners) {
  // A scene made without the prelude has no graphics, so its objects cannot have any.
  const size_t before = LogEntries().size();
  machine->RunString("global bare = table(_core = _Scene()); global o = _ObjGraphics(_Object(bare._core));");
  const Strings entries = LogEntries();
  ASSERT_GT(entries.size(), before);
  EXPECT_NE(entries[before].find("_ObjGraphics: the object's scene has no graphics"), std::string::npos)
      << entries[before];
  // One component per owner: a second construction wraps the first.
  EXPECT_EQ(Native<objGraphics>("_ObjGraphics(ob._core)"), Native<objGraphics>("g"));
  EXPECT_EQ(Native<sceGraphics>("_SceGraphics(world._core)"), Native<sceGraphics>("world.Graphics"));
}

TEST_F(GraphicsTest, TextsAndAMissingFontTriedOnce) {
  Run("global t = Graphics.NewText(\"hi\", 10, 20, \"nofont.xml\");"
      "Graphics.SetTextColor(t, 1, 0, 0, 1); Graphics.TextCaption(t, \"there\");"
      "Graphics.NewText(\"default\", 0, 0, \"#DefaultFont\");");
  graText* text = static_cast<graText*>(graphics->texts.Get(0));
  EXPECT_EQ(text->caption, "there");
  EXPECT_EQ(text->color, 0xFFFF0000u);
  EXPECT_EQ(static_cast<graText*>(graphics->texts.Get(1))->color, 0xFFFFFFFFu);
  for (int i = 0; i < 3; ++i) Frame();
  int fontLines = 0;
  for (const std::string& line : log.lines) fontLines += line.find("nofont.xml") != std::string::npos;
  EXPECT_EQ(fontLines, 1);
  EXPECT_TRUE(console.empty());
}

}  // namespace
