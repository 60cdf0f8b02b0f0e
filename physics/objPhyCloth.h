#pragma once
// A cloth: particles joined by springs, made from a mesh's vertices and written back into
// them each frame, so that every node showing the mesh shows the cloth hang and sway under
// its top edge. It collides with nothing and moves no body.
//
// A particle stands for every vertex at exactly its position (split vertices at seams move
// together). Each spring is stored once, at one of its ends. One relaxation step a frame:
// every particle not on the top level falls one unit along the mesh's -Y, and each spring
// pulls its ends back toward its rest length, the end farther below the top taking the
// larger share; particles on the top level never move.
#include <irrlicht.h>

#include <string>
#include <vector>

#include "binding/gmWrappable.h"

class gmMachineEx;
class graMesh;
template <class C>
class gmNativeType;
class objPhysics;

class objPhyCloth : public gmWrappable {
 public:
  struct Particle {
    irr::core::vector3df position;
    irr::core::vector3df delta;
    std::vector<Particle*> neighbours;
    std::vector<float> restLengths;
    // The positions of the vertices at this particle, inside their mesh buffers.
    std::vector<irr::core::vector3df*> vertices;
  };

  objPhyCloth(const char* a_name, objPhysics* a_owner);
  ~objPhyCloth();
  objPhyCloth(const objPhyCloth&) = delete;
  objPhyCloth& operator=(const objPhyCloth&) = delete;

  // Without AddMesh: it takes the graphics module's mesh handle, a class physics does not
  // link. The host, which has both, registers with a_bindAddMesh binding it
  // (host/gPlayerScriptApi.cpp) and installs meshOf.
  static int RegisterScriptType(gmMachineEx* a_machine);
  static int RegisterScriptType(gmMachineEx* a_machine, void (*a_bindAddMesh)(gmNativeType<objPhyCloth>& a_type));
  // The mesh a handle holds, null when its file did not load; while the hook is null every
  // mesh is empty.
  static irr::scene::IAnimatedMesh* (*meshOf)(const graMesh* a_mesh);

  // The first buffer of the mesh's frame 0. A handle whose file did not load, or a mesh
  // without vertices, prints "mesh is empty" and adds nothing.
  void AddMesh(graMesh* a_mesh);

  // Adds a mesh buffer's vertices and the edges of its triangles. The vertices are written
  // every step from then on, so they must live as long as the cloth (loaded meshes live
  // until the process ends). Vertices at the position of an existing particle join it;
  // triangles with an index past the vertices, and a trailing partial one, are skipped.
  // Every vertex type and both index sizes are read.
  void AddBuffer(irr::video::S3DVertex* a_vertices, irr::u32 a_vertexCount, const irr::u16* a_indices,
                 irr::u32 a_indexCount);
  void AddBuffer(irr::scene::IMeshBuffer* a_buffer);

  // One relaxation step; a cloth without particles does nothing.
  void Step();

  std::vector<Particle*> particles;
  std::string name;
  objPhysics* owner;
  // Marked changed after each step, so that buffers the driver keeps in video memory are
  // uploaded again. Held (grabbed) for as long as the cloth writes into them.
  std::vector<irr::scene::IMeshBuffer*> buffers;

 private:
  template <class PositionAt, class IndexAt>
  void Build(irr::u32 a_vertexCount, PositionAt a_position, irr::u32 a_indexCount, IndexAt a_index);
};
