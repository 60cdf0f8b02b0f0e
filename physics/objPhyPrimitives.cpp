#include "physics/objPhyPrimitives.h"

#include "binding/gmNativeType.h"
#include "physics/objPhysics.h"

objPhyPrimitive::objPhyPrimitive(const char* a_name, objPhysics* a_owner, btConvexInternalShape* a_shape)
    : shape(a_shape), name(a_name ? a_name : ""), owner(a_owner) {}

objPhyPrimitive::~objPhyPrimitive() {
  CutWrappers();
  delete shape;
}

void objPhyPrimitive::Position(float a_x, float a_y, float a_z) {
  if (!objPhysics::Finite(a_x, a_y, a_z)) return;
  offset.setOrigin(btVector3(a_x, a_y, a_z));
  owner->RefreshChild(this);
}

int objPhyPrimitive::ChildIndex() const {
  const btCompoundShape& compound = owner->shape;
  for (int i = 0; i < compound.getNumChildShapes(); ++i)
    if (compound.getChildShape(i) == shape) return i;
  return -1;
}

// ---- Sphere -------------------------------------------------------------------------------------

objPhySphere::objPhySphere(const char* a_name, objPhysics* a_owner)
    : objPhyPrimitive(a_name, a_owner, new btSphereShape(0)) {}

int objPhySphere::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objPhySphere> type(a_machine, "_ObjPhySphere");
  type.Method<float>("Radius", &objPhySphere::Radius).Method<void, float>("Radius", &objPhySphere::Radius);
  type.Method("Position", static_cast<void (objPhySphere::*)(float, float, float)>(&objPhyPrimitive::Position));
  return type.Register();
}

float objPhySphere::Radius() const { return static_cast<const btSphereShape*>(shape)->getRadius(); }

void objPhySphere::Radius(float a_radius) {
  if (!objPhysics::Finite(a_radius)) return;
  static_cast<btSphereShape*>(shape)->setUnscaledRadius(a_radius);
  owner->RefreshChild(this);
}

// ---- Box ----------------------------------------------------------------------------------------

// A box made with zero extents gets a zero margin, so its half extents are its dimensions.
objPhyBox::objPhyBox(const char* a_name, objPhysics* a_owner)
    : objPhyPrimitive(a_name, a_owner, new btBoxShape(btVector3(0, 0, 0))) {}

int objPhyBox::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objPhyBox> type(a_machine, "_ObjPhyBox");
  type.Method<gVector3>("Dimensions", &objPhyBox::Dimensions)
      .Method<void, float, float, float>("Dimensions", &objPhyBox::Dimensions);
  type.Method("Position", static_cast<void (objPhyBox::*)(float, float, float)>(&objPhyPrimitive::Position));
  return type.Register();
}

gVector3 objPhyBox::Dimensions() const {
  const btVector3 half = static_cast<const btBoxShape*>(shape)->getHalfExtentsWithMargin();
  return gVector3(half.x(), half.y(), half.z());
}

void objPhyBox::Dimensions(float a_x, float a_y, float a_z) {
  if (!objPhysics::Finite(a_x, a_y, a_z)) return;
  const btScalar margin = shape->getMargin();
  shape->setImplicitShapeDimensions(btVector3(a_x, a_y, a_z) - btVector3(margin, margin, margin));
  owner->RefreshChild(this);
}

// ---- Capsule ------------------------------------------------------------------------------------

objPhyCapsule::objPhyCapsule(const char* a_name, objPhysics* a_owner)
    : objPhyPrimitive(a_name, a_owner, new btCapsuleShape(0, 0)) {}

int objPhyCapsule::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objPhyCapsule> type(a_machine, "_ObjPhyCapsule");
  type.Method<float>("Radius", &objPhyCapsule::Radius).Method<void, float>("Radius", &objPhyCapsule::Radius);
  type.Method<float>("Height", &objPhyCapsule::Height).Method<void, float>("Height", &objPhyCapsule::Height);
  type.Method("Position", static_cast<void (objPhyCapsule::*)(float, float, float)>(&objPhyPrimitive::Position));
  return type.Register();
}

float objPhyCapsule::Radius() const { return static_cast<const btCapsuleShape*>(shape)->getRadius(); }
float objPhyCapsule::Height() const { return static_cast<const btCapsuleShape*>(shape)->getHalfHeight() * 2.0f; }
void objPhyCapsule::Radius(float a_radius) { Resize(a_radius, static_cast<btCapsuleShape*>(shape)->getHalfHeight()); }
void objPhyCapsule::Height(float a_height) { Resize(Radius(), a_height * 0.5f); }

void objPhyCapsule::Resize(float a_radius, float a_halfHeight) {
  if (!objPhysics::Finite(a_radius, a_halfHeight)) return;
  shape->setImplicitShapeDimensions(btVector3(a_radius, a_halfHeight, a_radius));
  // A capsule is its axis segment plus a margin of its radius; the capsule's own margin
  // setter ignores every value, so the base class's is called.
  shape->btConvexInternalShape::setMargin(a_radius);
  owner->RefreshChild(this);
}
