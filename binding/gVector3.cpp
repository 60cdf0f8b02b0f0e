#include "binding/gVector3.h"

#include <cmath>

#include "binding/gmNativeType.h"

void gVector3::Clamp(float a_low, float a_high) {
  if (x < a_low) x = a_low;
  if (y < a_low) y = a_low;
  if (z < a_low) z = a_low;
  if (x > a_high) x = a_high;
  if (y > a_high) y = a_high;
  if (z > a_high) z = a_high;
}

void gVector3::Normalize() {
  const float inverse = 1.0f / Length();
  x *= inverse;
  y *= inverse;
  z *= inverse;
}

float gVector3::Length() const { return std::sqrt(x * x + y * y + z * z); }

int gVector3::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<gVector3> type(a_machine, "Vector3");
  // Nothing native keeps a script's vector: natives copy what they are given.
  type.OwnedByScripts();
  type.Constructor<>().Constructor<const gVector3&>().Constructor<float, float, float>();
  type.Method<float>("X", &gVector3::X).Method<void, float>("X", &gVector3::X);
  type.Method<float>("Y", &gVector3::Y).Method<void, float>("Y", &gVector3::Y);
  type.Method<float>("Z", &gVector3::Z).Method<void, float>("Z", &gVector3::Z);
  type.Operator<gVector3, const gVector3&>("+", &gVector3::operator+);
  type.Operator("-", static_cast<gVector3 (gVector3::*)() const>(&gVector3::operator-));
  type.Operator("-", static_cast<gVector3 (gVector3::*)(const gVector3&) const>(&gVector3::operator-));
  type.Operator<gVector3, float>("*", &gVector3::operator*);
  type.Operator("==", &gVector3::Equals);
  type.Operator("!=", &gVector3::NotEquals);
  type.Method("Clamp", &gVector3::Clamp);
  type.Method("Normalize", &gVector3::Normalize);
  type.Method("Length", &gVector3::Length);
  type.Method("NegateX", &gVector3::NegateX);
  type.Method("NegateY", &gVector3::NegateY);
  type.Method("NegateZ", &gVector3::NegateZ);
  return type.Register();
}
