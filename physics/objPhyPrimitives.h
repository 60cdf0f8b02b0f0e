#pragma once
// The named primitives of a body: each record owns one child shape of its body's compound
// and is found by name. A record is made with size zero at the body's origin; its setters
// change the shape and tell the body, which refreshes the compound's bounds.
#include <btBulletDynamicsCommon.h>

#include <string>

#include "binding/gVector3.h"
#include "binding/gmWrappable.h"

class gmMachineEx;
class objPhysics;

class objPhyPrimitive : public gmWrappable {
 public:
  objPhyPrimitive(const char* a_name, objPhysics* a_owner, btConvexInternalShape* a_shape);
  virtual ~objPhyPrimitive();
  objPhyPrimitive(const objPhyPrimitive&) = delete;
  objPhyPrimitive& operator=(const objPhyPrimitive&) = delete;

  // The offset of the primitive in the body's frame; its rotation stays identity.
  void Position(float a_x, float a_y, float a_z);

  // The position of this record's child in its body's compound, or -1 while the child is
  // not in it yet (added inside a step, it joins after the step).
  int ChildIndex() const;

  btConvexInternalShape* shape;
  btTransform offset = btTransform::getIdentity();
  std::string name;
  objPhysics* owner;
};

class objPhySphere : public objPhyPrimitive {
 public:
  objPhySphere(const char* a_name, objPhysics* a_owner);
  static int RegisterScriptType(gmMachineEx* a_machine);

  float Radius() const;
  void Radius(float a_radius);
};

class objPhyBox : public objPhyPrimitive {
 public:
  objPhyBox(const char* a_name, objPhysics* a_owner);
  static int RegisterScriptType(gmMachineEx* a_machine);

  // Half extents.
  gVector3 Dimensions() const;
  void Dimensions(float a_x, float a_y, float a_z);
};

// Along the body's local Y axis.
class objPhyCapsule : public objPhyPrimitive {
 public:
  objPhyCapsule(const char* a_name, objPhysics* a_owner);
  static int RegisterScriptType(gmMachineEx* a_machine);

  float Radius() const;
  void Radius(float a_radius);
  // The full height of the cylinder part between the two caps.
  float Height() const;
  void Height(float a_height);

 private:
  void Resize(float a_radius, float a_halfHeight);
};
