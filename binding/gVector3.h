#ifndef GVECTOR3_H
#define GVECTOR3_H

// Three floats: the script type Vector3 and the vector the subsystems pass to and from
// scripts. Scripts hold vectors by reference (assigning a Vector3 copies the reference), so
// the in-place operations change the vector for every holder.

class gmMachineEx;

class gVector3 {
 public:
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;

  gVector3() = default;
  gVector3(const gVector3&) = default;
  gVector3& operator=(const gVector3&) = default;
  gVector3(float a_x, float a_y, float a_z) : x(a_x), y(a_y), z(a_z) {}

  float X() const { return x; }
  void X(float a_x) { x = a_x; }
  float Y() const { return y; }
  void Y(float a_y) { y = a_y; }
  float Z() const { return z; }
  void Z(float a_z) { z = a_z; }

  gVector3 operator+(const gVector3& a_other) const { return gVector3(x + a_other.x, y + a_other.y, z + a_other.z); }
  gVector3 operator-(const gVector3& a_other) const { return gVector3(x - a_other.x, y - a_other.y, z - a_other.z); }
  gVector3 operator-() const { return gVector3(-x, -y, -z); }
  gVector3 operator*(float a_factor) const { return gVector3(x * a_factor, y * a_factor, z * a_factor); }
  // Exact comparison of all three components; ints, as scripts see them.
  int Equals(const gVector3& a_other) const { return (x == a_other.x && y == a_other.y && z == a_other.z) ? 1 : 0; }
  int NotEquals(const gVector3& a_other) const { return Equals(a_other) ? 0 : 1; }

  // Components below a_low become a_low, then components above a_high become a_high (so
  // with a_high below a_low every component ends at a_high).
  void Clamp(float a_low, float a_high);
  // Multiplies by 1 / Length(): the zero vector becomes not-a-number in every component.
  void Normalize();
  float Length() const;
  void NegateX() { x = -x; }
  void NegateY() { y = -y; }
  void NegateZ() { z = -z; }

  // Registers the script type Vector3; returns its writable id.
  static int RegisterScriptType(gmMachineEx* a_machine);
};

#endif
