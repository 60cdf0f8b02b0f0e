// Effects and scene dressing on the null driver: the particle setters' clamps read back
// through the engine, billboard colours, beams that leave when deleted, one sky box per
// scene, oct-trees and the lighting switch.
#include <gtest/gtest.h>
#include <irrlicht.h>

#include <string>

#include "graphics/CBeamNode.h"
#include "graphics/objGraBeam.h"
#include "graphics/objGraBillboard.h"
#include "graphics/objGraMesh.h"
#include "graphics/objGraParticles.h"
#include "tests/graphics/graphicsFixture.h"

namespace {

using Strings = std::vector<std::string>;

TEST(GraphicsSkyBox, FaceNamesSplitAtTheLastDot) {
  const struct {
    const char* file;
    const char* top;
    const char* back;
  } cases[] = {{"sky.jpg", "sky_top.jpg", "sky_back.jpg"},
               {"sky", "_topsky", "_backsky"},
               {"a.b.png", "a.b_top.png", "a.b_back.png"},
               {".png", "_top.png", "_back.png"},
               {"a.", "a_top.", "a_back."}};
  for (const auto& c : cases) {
    std::string names[6];
    sceGraphics::SkyBoxFaceNames(c.file, names);
    EXPECT_EQ(names[0], c.top) << c.file;
    EXPECT_EQ(names[5], c.back) << c.file;
  }
  std::string names[6];
  sceGraphics::SkyBoxFaceNames("s.png", names);
  EXPECT_EQ((Strings(names, names + 6)),
            (Strings{"s_top.png", "s_bottom.png", "s_left.png", "s_right.png", "s_front.png", "s_back.png"}));
}

class GraphicsEffectsTest : public graphicsTest::Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Start(irr::video::EDT_NULL));
    Run("NewScene(\"world\"); global ob = world.NewObject(\"ob\"); global g = ob.Graphics;"
        "global eye = world.NewObject(\"eye\"); eye.Graphics.NewCamera(\"c\");");
  }
  static std::string Fixture(const char* a_name) { return std::string(OMBRIX_GRAPHICS_FIXTURES) + "/" + a_name; }
  int SceneNodeCount() { return CountUnder(Native<sceGraphics>("world.Graphics")->sceneManager->getRootSceneNode()); }
  static int CountUnder(irr::scene::ISceneNode* a_node) {
    int count = 0;
    for (irr::scene::ISceneNode* child : a_node->getChildren()) count += 1 + CountUnder(child);
    return count;
  }
};

TEST_F(GraphicsEffectsTest, ParticleSettersKeepTheEmitterSound) {
  Run("g.NewParticles(\"p\"); global p = g.Particles(\"p\");");
  objGraParticles* particles = Native<objGraParticles>("p");
  irr::scene::IParticleBoxEmitter* emitter = particles->emitter;
  EXPECT_EQ(emitter->getBox(), irr::core::aabbox3df(-10, 28, -10, 10, 30, 10));
  EXPECT_EQ(emitter->getMinStartColor().color, 0x00FFFFFFu);
  EXPECT_EQ(emitter->getMaxAngleDegrees(), 30);

  const struct {
    const char* call;
    irr::u32 minPerSecond, maxPerSecond, minLife, maxLife;
    int angle;
  } cases[] = {
      {"", 10, 20, 2000, 4000, 30},
      {"p.MaxPerSecond(-5);", 0, 10, 2000, 4000, 30},  // a negative count is none
      {"p.MaxPerSecond(2147483647);", 10, objGraParticles::kMaxPerSecond, 2000, 4000, 30},
      {"p.MaxPerSecond(40); p.MinPerSecond(-1);", 0, 40, 2000, 4000, 30},
      {"p.MinLifeTime(5000);", 0, 40, 4000, 5000, 30},  // a range given upside down
      {"p.MaxLifeTime(-3);", 0, 40, 0, 5000, 30},
      {"p.MinLifeTime(100); p.MaxLifeTime(200);", 0, 40, 100, 200, 30},
      {"p.MaxAngleDegrees(12.9);", 0, 40, 100, 200, 12},
      {"p.MaxAngleDegrees(-1e30);", 0, 40, 100, 200, -360},
      {"p.MaxAngleDegrees(0.0 / 0.0);", 0, 40, 100, 200, 0},
  };
  for (const auto& c : cases) {
    if (*c.call) Run(c.call);
    EXPECT_EQ(emitter->getMinParticlesPerSecond(), c.minPerSecond) << c.call;
    EXPECT_EQ(emitter->getMaxParticlesPerSecond(), c.maxPerSecond) << c.call;
    EXPECT_EQ(emitter->getMinLifeTime(), c.minLife) << c.call;
    EXPECT_EQ(emitter->getMaxLifeTime(), c.maxLife) << c.call;
    EXPECT_EQ(emitter->getMaxAngleDegrees(), c.angle) << c.call;
  }

  Run("p.FadeOutTime(-10); p.TimeForceLost(0); p.Size(3, 4); p.Direction(Vector3(1, 2, 3));"
      "p.TargetColor(1, 0, 0, 0.5); p.MinStartColor(0, 1, 0, 1);");
  EXPECT_LE(particles->fadeOut->getFadeOutTime(), 1u);
  EXPECT_GT(particles->gravity->getTimeForceLost(), 0.0f);
  EXPECT_EQ(emitter->getMaxStartSize(), irr::core::dimension2df(3, 4));
  EXPECT_EQ(emitter->getDirection(), irr::core::vector3df(1, 2, 3));
  EXPECT_EQ(particles->fadeOut->getTargetColor().color, 0x7FFF0000u);
  EXPECT_EQ(emitter->getMinStartColor().color, 0xFF00FF00u);
  // A thousand frames of emission stay within the system's bounds.
  Run("p.MinPerSecond(2147483647); p.MaxPerSecond(2147483647);");
  for (int i = 0; i < 3; ++i) Frame();
}

TEST_F(GraphicsEffectsTest, BillboardsStartWhiteAndTenUnitsWide) {
  Run("g.NewBillboard(\"b\"); global b = g.Billboard(\"b\"); b.TopColor(1, 0, 0, 1);");
  irr::scene::IBillboardSceneNode* node = Native<objGraBillboard>("b")->node;
  irr::video::SColor top, bottom;
  node->getColor(top, bottom);
  EXPECT_EQ(top.color, 0xFFFF0000u);
  EXPECT_EQ(bottom.color, 0xFFFFFFFFu);
  EXPECT_EQ(node->getSize(), irr::core::dimension2df(10, 10));
  const irr::video::SMaterial& material = node->getMaterial(0);
  EXPECT_EQ(material.MaterialType, irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
  EXPECT_FALSE(material.Lighting);
  EXPECT_FLOAT_EQ(material.MaterialTypeParam, 1.0f / 255.0f);
  Run("b.Texture(Graphics.NewTexture(\"nothere.png\"));");
  EXPECT_EQ(console, (Strings{"nothere.png not found (Graphics.NewTexture, unknown(1))", "Missing texture"}));
}

TEST_F(GraphicsEffectsTest, BeamsEndsAndBox) {
  Run("g.NewBeam(\"z\"); global z = g.Beam(\"z\"); z.From(1, 2, 3); z.To(Vector3(-4, 5, 6)); z.Size(2);");
  CBeamNode* node = Native<objGraBeam>("z")->node;
  EXPECT_EQ(node->box, irr::core::aabbox3df(-4, 2, 3, 1, 5, 6));
  EXPECT_EQ(node->width, 2.0f);
  EXPECT_EQ(Eval("z.To().X(), z.To().Y()"), "-4 5");
  EXPECT_EQ(node->getMaterial(0).MaterialType, irr::video::EMT_TRANSPARENT_ALPHA_CHANNEL);
}

// A beam fired and deleted every frame would pile up nodes if deletion left them drawn.
TEST_F(GraphicsEffectsTest, BeamsFiredEveryFrameKeepTheSceneFlat) {
  Run("global fire = function(o) { o.Graphics.DelBeam(\"shot\"); o.Graphics.NewBeam(\"shot\");"
      "  o.Graphics.Beam(\"shot\").To(0, 0, 100); };"
      "ob.Script(\"fire\");");
  Frame();
  const int nodes = SceneNodeCount();
  for (int i = 0; i < 10000; ++i) Frame();
  EXPECT_EQ(SceneNodeCount(), nodes);
  Run("ob.Script(\"\"); g.DelBeam(\"shot\");");
  EXPECT_EQ(SceneNodeCount(), nodes - 1);
}

TEST_F(GraphicsEffectsTest, EffectWrappersPastDeletionReachNothing) {
  Run("g.NewBillboard(\"b\"); g.NewBeam(\"z\"); g.NewParticles(\"p\");"
      "global b = g.Billboard(\"b\"); global z = g.Beam(\"z\"); global p = g.Particles(\"p\");"
      "g.DelBillboard(\"b\"); g.DelParticles(\"p\");");
  EXPECT_EQ(Eval("b.Size(1, 2), p.MaxPerSecond(5)"), "null null");
  Run("ob.Delete();");
  Frame();
  EXPECT_EQ(Eval("z.To(), z.Size(3)"), "null null");
}

TEST_F(GraphicsEffectsTest, OneSkyBoxPerSceneWithFacesInPlace) {
  const int before = SceneNodeCount();
  const std::string sky = "world.Graphics.SkyBox(\"" + Fixture("sky.png") + "\");";
  for (int i = 0; i < 5; ++i) Run(sky);
  EXPECT_EQ(SceneNodeCount(), before + 1);
  irr::video::IVideoDriver* driver = device->getVideoDriver();
  EXPECT_TRUE(driver->getTextureCreationFlag(irr::video::ETCF_CREATE_MIP_MAPS));
  irr::scene::ISceneNode* box = Native<sceGraphics>("world.Graphics")->skyBox;
  ASSERT_NE(box, nullptr);
  // Faces in the engine's order: front, left, back, right, top, bottom.
  const char* faces[6] = {"sky_front.png", "sky_left.png", "sky_back.png",
                          "sky_right.png", "sky_top.png",  "sky_bottom.png"};
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(box->getMaterial(i).getTexture(0), driver->getTexture(Fixture(faces[i]).c_str())) << faces[i];
  Run("world.Graphics.SkyBox(\"nothere.jpg\");");
  EXPECT_EQ(SceneNodeCount(), before + 1);
}

TEST_F(GraphicsEffectsTest, OctTreesAndTheLightingSwitch) {
  const std::string cube = "global cube = Graphics.NewMesh(\"" + Fixture("cube.obj") + "\");";
  Run(cube + "g.NewMesh(\"first\", cube); g.NewMesh(\"second\", cube); g.Lighting(0);");
  EXPECT_FALSE(Native<objGraMesh>("g.Mesh(\"first\")")->node->getMaterial(0).Lighting);
  EXPECT_TRUE(Native<objGraMesh>("g.Mesh(\"second\")")->node->getMaterial(0).Lighting);

  Run("eye.Graphics.Lighting(1); eye.Graphics.AddOctTree(Graphics.NewMesh(\"nothere.obj\"));");
  objGraphics* eye = Native<objGraphics>("eye.Graphics");
  EXPECT_EQ(eye->root->getChildren().size(), 1u);
  Run("eye.Graphics.AddOctTree(cube);");
  ASSERT_EQ(eye->root->getChildren().size(), 2u);
  irr::scene::ISceneNode* tree = *eye->root->getChildren().getLast();
  EXPECT_EQ(tree->getType(), irr::scene::ESNT_OCTREE);
  EXPECT_TRUE(tree->getMaterial(0).Lighting);
  EXPECT_EQ(tree->getMaterial(0).MaterialType, irr::video::EMT_SOLID);
}

}  // namespace
