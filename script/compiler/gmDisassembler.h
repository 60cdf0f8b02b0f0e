#ifndef GMDISASSEMBLER_H
#define GMDISASSEMBLER_H

// Readable listings of byte code: one instruction per line as "offset name operand", with
// names for string operands, slots (and local names when known) for locals and byte offsets
// for jump targets, followed by the line table when the function has one. Offsets are
// printed as four-digit decimals so jump targets can be matched by eye. Lines end in "\n".
//
//   function __main params 0 locals 1 stack 1
//   0000 pushint 3
//   0008 setlocal 0 (x)
//   0016 return
//   lines
//   0000 1

#include <string>

#include "script/compiler/gmCodeGenHooks.h"

class gmDisassembler {
 public:
  // A description as the code generator hands it to the hooks.
  static std::string Disassemble(const gmFunctionInfo& info);
  // A script function object the machine has filled from such a description.
  static std::string Disassemble(const gmFunctionObject& func);
};

#endif
