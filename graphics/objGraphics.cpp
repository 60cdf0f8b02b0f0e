#include "graphics/objGraphics.h"

#include <irrlicht.h>

#include "binding/gConsole.h"
#include "binding/gmNativeType.h"
#include "graphics/graComponentList.h"
#include "graphics/graResources.h"
#include "graphics/objGraBeam.h"
#include "graphics/objGraBillboard.h"
#include "graphics/objGraCamera.h"
#include "graphics/objGraLight.h"
#include "graphics/objGraMesh.h"
#include "graphics/objGraParticles.h"
#include "graphics/sceGraphics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

using namespace irr;

namespace {

// The object's root: an empty node whose relative transformation is a whole matrix (the
// body's pose) times its scale, which position, rotation in degrees and scale alone cannot
// carry exactly.
class graRootNode : public scene::ISceneNode {
 public:
  graRootNode(scene::ISceneNode* a_parent, scene::ISceneManager* a_manager) : ISceneNode(a_parent, a_manager, -1) {
    setAutomaticCulling(scene::EAC_OFF);
  }
  void render() override {}
  const core::aabbox3d<f32>& getBoundingBox() const override { return m_box; }
  // Roots hang directly under the scene's root, which never moves: their world transform is
  // their own, without a product with the identity for each of them every frame.
  void updateAbsolutePosition() override {
    if (Parent && !Parent->getParent())
      AbsoluteTransformation = getRelativeTransformation();
    else
      ISceneNode::updateAbsolutePosition();
  }
  core::matrix4 getRelativeTransformation() const override {
    core::matrix4 transform = pose;
    if (RelativeScale != core::vector3df(1.0f, 1.0f, 1.0f)) {
      core::matrix4 scale;
      scale.setScale(RelativeScale);
      transform *= scale;
    }
    return transform;
  }

  core::matrix4 pose;

 private:
  core::aabbox3d<f32> m_box;
};

}  // namespace

objGraphics* objGraphics::Make(sceObject* a_object) {
  if (a_object->graphics) return a_object->graphics;
  sceGraphics* sceneGraphics = a_object->scene ? a_object->scene->graphics : nullptr;
  if (!sceneGraphics) {
    if (gmMachineEx* machine = gScene::machine) {
      machine->GetLog().LogEntry("_ObjGraphics: the object's scene has no graphics (its Graphics member is null)");
      machine->FailCurrentCall();
    }
    return nullptr;
  }
  return new objGraphics(a_object, sceneGraphics);
}

int objGraphics::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objGraphics> type(a_machine, "_ObjGraphics");
  type.FactoryConstructor(&objGraphics::Make);
  type.Method("AddOctTree", &objGraphics::AddOctTree);
  type.Method("Scale", &objGraphics::Scale);
  type.Method("Lighting", &objGraphics::Lighting);
  type.Method("Camera", &objGraphics::Camera);
  type.Method("NewCamera", &objGraphics::NewCamera);
  type.Method("DelCamera", &objGraphics::DelCamera);
  type.Method("Light", &objGraphics::Light);
  type.Method("NewLight", &objGraphics::NewLight);
  type.Method("DelLight", &objGraphics::DelLight);
  type.Method("Mesh", &objGraphics::Mesh);
  type.Method("NewMesh", &objGraphics::NewMesh);
  type.Method("DelMesh", &objGraphics::DelMesh);
  type.Method("Billboard", &objGraphics::Billboard);
  type.Method("NewBillboard", &objGraphics::NewBillboard);
  type.Method("DelBillboard", &objGraphics::DelBillboard);
  type.Method("Beam", &objGraphics::Beam);
  type.Method("NewBeam", &objGraphics::NewBeam);
  type.Method("DelBeam", &objGraphics::DelBeam);
  type.Method("Particles", &objGraphics::Particles);
  type.Method("NewParticles", &objGraphics::NewParticles);
  type.Method("DelParticles", &objGraphics::DelParticles);
  return type.Register();
}

objGraphics::objGraphics(sceObject* a_object, sceGraphics* a_sceneGraphics)
    : object(a_object), sceneGraphics(a_sceneGraphics) {
  object->graphics = this;
  m_slot = sceneGraphics->objects.count;
  sceneGraphics->objects.Append(this);
  scene::ISceneManager* manager = sceneGraphics->sceneManager;
  root = new graRootNode(manager->getRootSceneNode(), manager);
  root->drop();  // the scene graph holds it
}

objGraphics::~objGraphics() {
  CutWrappers();
  graDeleteAll<objGraCamera>(cameras);
  graDeleteAll<objGraLight>(lights);
  graDeleteAll<objGraMesh>(meshes);
  graDeleteAll<objGraBillboard>(billboards);
  graDeleteAll<objGraBeam>(beams);
  graDeleteAll<objGraParticles>(particles);
  root->remove();
  gPtrList& objects = sceneGraphics->objects;
  const int at = objects.RemoveFrom(this, m_slot);
  if (at >= 0 && at < objects.count) static_cast<objGraphics*>(objects.Get(at))->m_slot = at;
  if (object && object->graphics == this) object->graphics = nullptr;
}

void objGraphics::Scale(float a_x, float a_y, float a_z) { root->setScale(core::vector3df(a_x, a_y, a_z)); }

void objGraphics::AddOctTree(graMesh* a_mesh) {
  if (!a_mesh || !a_mesh->mesh) return;
  scene::IMesh* frame = a_mesh->mesh->getMesh(0, 255, -1, -1);
  scene::IMeshSceneNode* node = sceneGraphics->sceneManager->addOctreeSceneNode(frame, root, -1, 256, false);
  if (!node) return;
  node->setMaterialFlag(video::EMF_LIGHTING, true);
  node->setMaterialType(video::EMT_SOLID);
}

void objGraphics::Lighting(int a_on) {
  const core::list<scene::ISceneNode*>& children = root->getChildren();
  if (!children.empty()) (*children.begin())->setMaterialFlag(video::EMF_LIGHTING, a_on != 0);
}

objGraCamera* objGraphics::Camera(const char* a_name) { return graFindNewest<objGraCamera>(cameras, a_name); }

void objGraphics::NewCamera(const char* a_name) { cameras.Append(new objGraCamera(a_name, this)); }

void objGraphics::DelCamera(const char* a_name) { graDeleteOldest<objGraCamera>(cameras, a_name); }

objGraLight* objGraphics::Light(const char* a_name) { return graFindNewest<objGraLight>(lights, a_name); }

void objGraphics::NewLight(const char* a_name) { lights.Append(new objGraLight(a_name, this)); }

void objGraphics::DelLight(const char* a_name) { graDeleteOldest<objGraLight>(lights, a_name); }

objGraMesh* objGraphics::Mesh(const char* a_name) { return graFindNewest<objGraMesh>(meshes, a_name); }

void objGraphics::NewMesh(const char* a_name, graMesh* a_mesh) {
  if (!a_mesh || !a_mesh->mesh) {
    gConsole::Line("mesh is empty");
    return;
  }
  meshes.Append(new objGraMesh(a_name, this, a_mesh));
}

void objGraphics::DelMesh(const char* a_name) { graDeleteOldest<objGraMesh>(meshes, a_name); }

void objGraphics::SyncTransform(const gPose& a_pose) {
  core::matrix4& m = static_cast<graRootNode*>(root)->pose;
  // Columns of the basis are the body's axes in world coordinates; the engine's matrices
  // hold each axis in four consecutive elements.
  for (int axis = 0; axis < 3; ++axis) {
    for (int row = 0; row < 3; ++row) m[axis * 4 + row] = a_pose.basis[row][axis];
    m[axis * 4 + 3] = 0.0f;
  }
  m[12] = a_pose.origin[0];
  m[13] = a_pose.origin[1];
  m[14] = a_pose.origin[2];
  m[15] = 1.0f;
}

objGraBillboard* objGraphics::Billboard(const char* a_name) {
  return graFindNewest<objGraBillboard>(billboards, a_name);
}

void objGraphics::NewBillboard(const char* a_name) { billboards.Append(new objGraBillboard(a_name, this)); }

void objGraphics::DelBillboard(const char* a_name) { graDeleteOldest<objGraBillboard>(billboards, a_name); }

objGraBeam* objGraphics::Beam(const char* a_name) { return graFindNewest<objGraBeam>(beams, a_name); }

void objGraphics::NewBeam(const char* a_name) { beams.Append(new objGraBeam(a_name, this)); }

void objGraphics::DelBeam(const char* a_name) { graDeleteOldest<objGraBeam>(beams, a_name); }

objGraParticles* objGraphics::Particles(const char* a_name) {
  return graFindNewest<objGraParticles>(particles, a_name);
}

void objGraphics::NewParticles(const char* a_name) { particles.Append(new objGraParticles(a_name, this)); }

void objGraphics::DelParticles(const char* a_name) { graDeleteOldest<objGraParticles>(particles, a_name); }
