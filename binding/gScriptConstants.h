#ifndef GSCRIPTCONSTANTS_H
#define GSCRIPTCONSTANTS_H

// The int constants scripts see as globals, in the order the host sets them.

class gmMachine;

struct gScriptConstant {
  const char* name;
  int value;
};

const int gScriptConstantCount = 158;
extern const gScriptConstant gScriptConstants[gScriptConstantCount];

void gSetScriptConstants(gmMachine* a_machine);

#endif
