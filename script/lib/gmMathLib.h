#ifndef GMMATHLIB_H
#define GMMATHLIB_H

// The math library: twenty-two numeric globals (abs, sqrt, power, floor, ceil, round,
// degtorad, radtodeg, cos, sin, tan, acos, asin, atan, atan2, log, min, max, clamp,
// randint, randfloat, randseed) and the String, Float and Int methods of int and float.
// The host registers it when it builds its script API; a bare machine does not have it.

class gmMachine;

void gmBindMathLib(gmMachine* a_machine);

#endif
