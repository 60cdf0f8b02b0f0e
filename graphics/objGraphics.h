#pragma once
// An object's graphics (script type _ObjGraphics, the object's `Graphics` member): a root
// node under the scene's root that follows the object's body, and the named components that
// hang under it. Lookups by name find the newest component of that name, deletions take the
// oldest.
#include "binding/gmWrappable.h"
#include "scene/gPose.h"
#include "scene/gPtrList.h"

namespace irr {
namespace scene {
class ISceneNode;
}
}  // namespace irr
class gmMachineEx;
class graMesh;
class objGraBeam;
class objGraBillboard;
class objGraCamera;
class objGraLight;
class objGraMesh;
class objGraParticles;
class sceGraphics;
class sceObject;

class objGraphics : public gmWrappable {
 public:
  // The object's graphics, made on first use; null (a script error) when the object's
  // scene has no graphics.
  static objGraphics* Make(sceObject* a_object);
  static int RegisterScriptType(gmMachineEx* a_machine);

  objGraphics(sceObject* a_object, sceGraphics* a_sceneGraphics);
  // Deletes every component, removes the root (with anything still under it) and leaves the
  // scene's list and the object.
  ~objGraphics();
  objGraphics(const objGraphics&) = delete;
  objGraphics& operator=(const objGraphics&) = delete;

  // Scales the whole object about its origin, before the body's rotation and position.
  void Scale(float a_x, float a_y, float a_z);
  // Static geometry (a level) drawn through an oct-tree under the root, lit and solid; it
  // has no name and leaves with the root. A handle without a mesh adds nothing.
  void AddOctTree(graMesh* a_mesh);
  // Lighting of the root's first child only: the oldest component node still there (a
  // camera or a light, which have no materials, takes it without effect).
  void Lighting(int a_on);

  objGraCamera* Camera(const char* a_name);
  void NewCamera(const char* a_name);
  void DelCamera(const char* a_name);
  objGraLight* Light(const char* a_name);
  void NewLight(const char* a_name);
  void DelLight(const char* a_name);
  objGraMesh* Mesh(const char* a_name);
  // A handle that holds no mesh makes no component ("mesh is empty").
  void NewMesh(const char* a_name, graMesh* a_mesh);
  void DelMesh(const char* a_name);
  objGraBillboard* Billboard(const char* a_name);
  void NewBillboard(const char* a_name);
  void DelBillboard(const char* a_name);
  objGraBeam* Beam(const char* a_name);
  void NewBeam(const char* a_name);
  void DelBeam(const char* a_name);
  objGraParticles* Particles(const char* a_name);
  void NewParticles(const char* a_name);
  void DelParticles(const char* a_name);

  // The root takes the body's pose (and keeps its own scale under it).
  void SyncTransform(const gPose& a_pose);

  gPtrList cameras;     // objGraCamera
  gPtrList lights;      // objGraLight
  gPtrList meshes;      // objGraMesh
  gPtrList billboards;  // objGraBillboard
  gPtrList beams;       // objGraBeam
  gPtrList particles;   // objGraParticles
  sceObject* object;
  sceGraphics* sceneGraphics;
  irr::scene::ISceneNode* root;
  // Where the component last was in the scene's `objects` (gPtrList::RemoveFrom).
  int m_slot = -1;
};
