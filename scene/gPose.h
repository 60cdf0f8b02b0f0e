#pragma once
// A rigid body's world pose as the other components read it, without the physics library's
// types: the rotation basis by rows (basis[r][c], so column c is the body's local axis c in
// world coordinates) and the origin, plus the body's linear velocity in units per frame.
struct gPose {
  float basis[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  float origin[3] = {0, 0, 0};
  float velocity[3] = {0, 0, 0};
};
