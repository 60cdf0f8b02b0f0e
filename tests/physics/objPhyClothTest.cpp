// Cloth on hand-made vertex arrays: the relaxation step's numbers, shared vertices, pinned
// tops; and cloths on a body, stepped with the frames of its world.
#include <irrlicht.h>

#include <cmath>
#include <memory>
#include <vector>

#include "graphics/graResources.h"
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

// A loaded mesh made by hand: one animated mesh of one frame holding a_buffers.
// A mesh handle as the graphics module makes it; the host's hooks hand the cloth its mesh.
struct HandMesh {
  explicit HandMesh(const std::vector<irr::scene::IMeshBuffer*>& a_buffers) {
    gObjectComponents::Install();
    irr::scene::SMesh* mesh = new irr::scene::SMesh();
    for (irr::scene::IMeshBuffer* buffer : a_buffers) {
      mesh->addMeshBuffer(buffer);
      buffer->drop();
    }
    animated = new irr::scene::SAnimatedMesh(mesh);
    mesh->drop();
    handle.reset(new graMesh(animated));
  }
  ~HandMesh() { animated->drop(); }
  irr::scene::SAnimatedMesh* animated;
  std::unique_ptr<graMesh> handle;
};

TEST(Cloth, AddMeshReadsAnyVertexTypeAndIndexSizeAndWritesBackThroughTheBuffer) {
  // A unit square hung on its top edge, in vertices with two texture coordinates (wider than
  // the standard vertex) and 32-bit indices, followed by a triangle naming a vertex that is
  // not there and a trailing partial triangle.
  irr::scene::CDynamicMeshBuffer* buffer =
      new irr::scene::CDynamicMeshBuffer(irr::video::EVT_2TCOORDS, irr::video::EIT_32BIT);
  const float corners[4][2] = {{0, 1}, {1, 1}, {0, 0}, {1, 0}};
  for (const auto& c : corners) {
    irr::video::S3DVertex2TCoords v;
    v.Pos.set(c[0], c[1], 0);
    v.TCoords2.set(7, 9);
    buffer->getVertexBuffer().push_back(v);
  }
  for (irr::u32 index : {0u, 2u, 1u, 1u, 2u, 3u, 0u, 70000u, 1u, 3u, 2u}) buffer->getIndexBuffer().push_back(index);
  HandMesh square({buffer});
  objPhyCloth cloth("c", nullptr);
  cloth.AddMesh(square.handle.get());
  ASSERT_EQ(cloth.particles.size(), 4u);
  size_t springs = 0;
  for (const objPhyCloth::Particle* p : cloth.particles) springs += p->neighbours.size();
  EXPECT_EQ(springs, 5u);

  const irr::u32 changed = buffer->getChangedID_Vertex();
  cloth.Step();
  // By hand: the bottom corners fall to y = -1. The left side pulls the bottom left one up
  // by 0.5; the diagonal from the pinned top right pulls it by k (1, 2), k being half its
  // relative stretch, 0.5 (1 - sqrt(2) / sqrt(5)); the bottom spring keeps its rest length
  // and the right side pulls the bottom right one up by 0.5.
  const float k = 0.5f * (1.0f - std::sqrt(2.0f) / std::sqrt(5.0f));
  const irr::core::vector3df expected[4] = {{0, 1, 0}, {1, 1, 0}, {k, -0.5f + 2 * k, 0}, {1, -0.5f, 0}};
  for (irr::u32 i = 0; i < 4; ++i) {
    const irr::video::S3DVertex2TCoords& v = static_cast<irr::video::S3DVertex2TCoords*>(buffer->getVertices())[i];
    EXPECT_NEAR(v.Pos.X, expected[i].X, 1e-6f) << i;
    EXPECT_NEAR(v.Pos.Y, expected[i].Y, 1e-6f) << i;
    EXPECT_EQ(v.Pos.Z, 0.0f) << i;
    EXPECT_EQ(v.TCoords2, irr::core::vector2df(7, 9)) << i;
  }
  EXPECT_NE(buffer->getChangedID_Vertex(), changed) << "the buffer must be marked changed for the driver";
}

TEST(Cloth, AddMeshOfNothingSaysMeshIsEmptyAndAddsNothing) {
  std::vector<std::string> lines;
  static std::vector<std::string>* s_lines;
  s_lines = &lines;
  gConsole::SetSink([](const char* a_line) { s_lines->push_back(a_line); });
  graMesh unloaded(nullptr);
  HandMesh noBuffers({});
  HandMesh noVertices({new irr::scene::SMeshBuffer()});
  objPhyCloth cloth("c", nullptr);
  for (graMesh* mesh : {static_cast<graMesh*>(nullptr), &unloaded, noBuffers.handle.get(), noVertices.handle.get()}) {
    lines.clear();
    cloth.AddMesh(mesh);
    EXPECT_EQ(lines, std::vector<std::string>{"mesh is empty"});
    EXPECT_TRUE(cloth.particles.empty());
    EXPECT_TRUE(cloth.buffers.empty());
  }
  cloth.Step();
  gConsole::SetSink(nullptr);
}

TEST(Cloth, DegenerateTrianglesMakeNoSelfSpringsAndStayFinite) {
  // Repeated indices, as exported meshes have them, in a small grid.
  std::vector<S3DVertex> vertices;
  for (int y = 3; y >= 0; --y)
    for (int x = 0; x < 3; ++x) vertices.push_back(At(static_cast<float>(x), static_cast<float>(y), 0));
  // Two particles 1e-30 apart: distinct positions, yet a distance that is 0 in floats.
  vertices.push_back(At(5, 0, 0));
  vertices.push_back(At(5, 0, 1e-30f));
  std::vector<irr::u16> indices = {0, 0, 3, 3, 3, 3, 4, 7, 7, 0, 12, 13};
  for (irr::u16 row = 0; row < 3; ++row)
    for (irr::u16 col = 0; col < 2; ++col) {
      const irr::u16 a = static_cast<irr::u16>(row * 3 + col);
      indices.insert(indices.end(), {a, static_cast<irr::u16>(a + 3), static_cast<irr::u16>(a + 1)});
    }
  objPhyCloth cloth("c", nullptr);
  cloth.AddBuffer(vertices.data(), static_cast<irr::u32>(vertices.size()), indices.data(),
                  static_cast<irr::u32>(indices.size()));
  for (const objPhyCloth::Particle* p : cloth.particles)
    for (const objPhyCloth::Particle* n : p->neighbours) EXPECT_NE(p, n);
  for (int frame = 0; frame < 600; ++frame) cloth.Step();
  for (const S3DVertex& v : vertices)
    EXPECT_TRUE(std::isfinite(v.Pos.X) && std::isfinite(v.Pos.Y) && std::isfinite(v.Pos.Z));
}

TEST_F(PhysicsTest, ClothsOnABodyAreFoundByNameAndStepWithTheWorld) {
  Run("NewScene(\"w\"); global o = w.NewObject(\"o\"); o.Physics.NewCloth(\"flag\"); o.Physics.NewCloth(\"empty\");"
      "global kept = o.Physics.Cloth(\"flag\"); print(kept == null, o.Physics.Cloth(\"nope\"));"
      "o.Physics.DelCloth(\"nope\");");
  EXPECT_EQ(printed, (std::vector<std::string>{"0 null"}));
  EXPECT_EQ(console,
            (std::vector<std::string>{"Unable to find the requested cloth", "Unable to find the requested Cloth"}));
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
