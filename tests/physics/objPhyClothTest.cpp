// Cloth on hand-made vertex arrays: the relaxation step's numbers, shared vertices, pinned
// tops; and cloths on a body, stepped with the frames of its world.
#include <irrlicht.h>

#include <vector>

#include "physics/objPhyCloth.h"
#include "physicsFixture.h"

namespace physicsTest {
namespace {

using irr::video::S3DVertex;

S3DVertex At(float a_x, float a_y, float a_z) {
  S3DVertex v;
  v.Pos.set(a_x, a_y, a_z);
  return v;
}

TEST(Cloth, HangsUnderItsTopAndRelaxesTowardItsRestLengths) {
  // One spring from a pinned top to a free end one unit below (the triangle's third corner
  // repeats the second). The free end falls to -1, the spring pulls it back by half of its
  // stretch: -0.5; then -1.5 + 0.75 = -0.75.
  std::vector<S3DVertex> vertices = {At(0, 1, 0), At(0, 0, 0)};
  const irr::u16 indices[] = {0, 1, 1, 0, 1, 7};  // the second triangle names a vertex that is not there
  objPhyCloth cloth("c", nullptr);
  cloth.AddBuffer(vertices.data(), 2, indices, 6);
  ASSERT_EQ(cloth.particles.size(), 2u);
  EXPECT_EQ(cloth.particles[0]->neighbours.size() + cloth.particles[1]->neighbours.size(), 1u);
  cloth.Step();
  EXPECT_EQ(vertices[0].Pos, irr::core::vector3df(0, 1, 0));
  EXPECT_EQ(vertices[1].Pos, irr::core::vector3df(0, -0.5f, 0));
  cloth.Step();
  EXPECT_EQ(vertices[1].Pos, irr::core::vector3df(0, -0.75f, 0));
}

TEST(Cloth, GridKeepsItsTopRowAndMovesSplitVerticesTogether) {
  // A 3 by 3 grid in the XY plane, top row at y = 2, with the middle vertex given twice.
  std::vector<S3DVertex> vertices;
  for (int y = 2; y >= 0; --y)
    for (int x = 0; x < 3; ++x) vertices.push_back(At(static_cast<float>(x), static_cast<float>(y), 0));
  vertices.push_back(At(1, 1, 0));
  std::vector<irr::u16> indices;
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col) {
      const irr::u16 a = static_cast<irr::u16>(row * 3 + col), b = a + 1, c = a + 3, d = a + 4;
      indices.insert(indices.end(), {a, c, b, b, c, d});
    }
  indices.insert(indices.end(), {0, 9, 1});
  objPhyCloth cloth("grid", nullptr);
  cloth.AddBuffer(vertices.data(), static_cast<irr::u32>(vertices.size()), indices.data(),
                  static_cast<irr::u32>(indices.size()));
  EXPECT_EQ(cloth.particles.size(), 9u);
  for (int step = 0; step < 3; ++step) cloth.Step();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(vertices[i].Pos, irr::core::vector3df(static_cast<float>(i), 2, 0));
  for (int i = 3; i < 9; ++i) {
    EXPECT_LT(vertices[i].Pos.Y, i < 6 ? 1.0f : 0.0f) << i;
    EXPECT_GT(vertices[i].Pos.Y, -3.0f) << i;
  }
  EXPECT_EQ(vertices[9].Pos, vertices[4].Pos);

  // A mesh with every vertex on one level is all top: it never moves.
  std::vector<S3DVertex> flat = {At(0, 0, 0), At(1, 0, 0), At(0, 0, 1)};
  const irr::u16 triangle[] = {0, 1, 2};
  objPhyCloth level("flat", nullptr);
  level.AddBuffer(flat.data(), 3, triangle, 3);
  level.Step();
  EXPECT_EQ(flat[1].Pos, irr::core::vector3df(1, 0, 0));
}

TEST_F(PhysicsTest, ClothsOnABodyAreFoundByNameAndStepWithTheWorld) {
  Run("NewScene(\"w\"); global o = w.NewObject(\"o\"); o.Physics.NewCloth(\"flag\"); o.Physics.NewCloth(\"empty\");"
      "global kept = o.Physics.Cloth(\"flag\"); print(kept == null, o.Physics.Cloth(\"nope\"));"
      "o.Physics.DelCloth(\"nope\");");
  EXPECT_EQ(printed, (std::vector<std::string>{"0 null"}));
  EXPECT_EQ(console, (std::vector<std::string>{"Unable to find the requested cloth", "Unable to find the requested Cloth"}));
  std::vector<S3DVertex> vertices = {At(0, 1, 0), At(0, 0, 0)};
  const irr::u16 indices[] = {0, 1, 1};
  objPhysics* body = Body("w", "o");
  body->Cloth("flag")->AddBuffer(vertices.data(), 2, indices, 3);
  // The body is static; its cloths step all the same.
  Frames(2);
  EXPECT_EQ(vertices[1].Pos, irr::core::vector3df(0, -0.75f, 0));
  // A deleted cloth leaves the mesh as its last step left it.
  Run("o.Physics.DelCloth(\"flag\"); kept = null; sysCollectGarbage(1);");
  Frames(1);
  EXPECT_EQ(vertices[1].Pos, irr::core::vector3df(0, -0.75f, 0));
  EXPECT_EQ(body->cloths.count, 1);
}

}  // namespace
}  // namespace physicsTest
