#ifndef GMBYTECODE_H
#define GMBYTECODE_H

// The instruction set shared by the code generator, the disassembler and the interpreter.
//
// Byte code is a stream of 32-bit words in machine order. An instruction is one opcode word,
// followed by exactly one operand word when the opcode's `hasOperand` is true:
//   getdot, setdot, getglobal, setglobal, getthis, setthis, pushstring, pushfunction
//       index into the function's reference array (the objects made by the code generator's
//       hooks, each object present once); names are permanent strings, pushstring's operand
//       an ordinary interned string, pushfunction's a function object
//   jump and the four conditional jumps
//       byte offset of the target from the start of the function's byte code
//   call       argument count
//   foreach    key slot << 16 | value slot
//   getlocal, setlocal   slot, counted from the function's first parameter
//   pushint    the int itself; pushfloat the float's IEEE bits
//
// Opcodes 0 to 23 are the operator instructions: each equals the operator number the type
// registry uses for the same operator, so the interpreter can index operator slots directly.
//
// Every opcode is listed exactly once, in GM_BYTECODES below; keep numbers stable, they are
// stored in compiled functions.

#include <cstdint>

// X(ENUM, "name", hasOperand, stackEffect)
// stackEffect is the change of the operand stack depth the code generator counts with. `call`
// is the exception: after a call the depth is the depth before the callee (and its `this`)
// were pushed, plus one for the result; its entry of 0 is never used for counting.
#define GM_BYTECODES(X)                                                                    \
  X(GETDOT, "getdot", true, 0)   /* object -> object.name */                               \
  X(SETDOT, "setdot", true, -2)  /* object, value -> ; object.name = value */              \
  X(GETIND, "getind", false, -1) /* object, index -> element */                            \
  X(SETIND, "setind", false, -3) /* object, index, value -> */                             \
  X(ADD, "add", false, -1)                                                                 \
  X(SUB, "sub", false, -1)                                                                 \
  X(MUL, "mul", false, -1)                                                                 \
  X(DIV, "div", false, -1)                                                                 \
  X(MOD, "mod", false, -1)                                                                 \
  X(BITOR, "bitor", false, -1)                                                             \
  X(BITXOR, "bitxor", false, -1)                                                           \
  X(BITAND, "bitand", false, -1)                                                           \
  X(SHIFTLEFT, "shiftleft", false, -1)                                                     \
  X(SHIFTRIGHT, "shiftright", false, -1)                                                   \
  X(BITINV, "bitinv", false, 0)                                                            \
  X(LT, "lt", false, -1)                                                                   \
  X(GT, "gt", false, -1)                                                                   \
  X(LTE, "lte", false, -1)                                                                 \
  X(GTE, "gte", false, -1)                                                                 \
  X(EQ, "eq", false, -1)                                                                   \
  X(NEQ, "neq", false, -1)                                                                 \
  X(NEG, "neg", false, 0)                                                                  \
  X(POS, "pos", false, 0)                                                                  \
  X(NOT, "not", false, 0)                                                                  \
  X(NOP, "nop", false, 0)                                                                  \
  X(LINE, "line", false, 0) /* debug line hook */                                          \
  X(JUMP, "jump", true, 0)                                                                 \
  X(JUMPZERO, "jumpzero", true, -1)              /* pop; branch if false */                \
  X(JUMPNOTZERO, "jumpnotzero", true, -1)        /* pop; branch if true */                 \
  X(JUMPZEROKEEP, "jumpzerokeep", true, 0)       /* branch if false, value stays */        \
  X(JUMPNOTZEROKEEP, "jumpnotzerokeep", true, 0) /* branch if true, value stays */         \
  X(CALL, "call", true, 0)                       /* this, function, args -> result */      \
  X(RETURN, "return", false, 0)                  /* return null */                         \
  X(RETURNVALUE, "returnvalue", false, 0)        /* return the top value */                \
  X(FOREACH, "foreach", true, 1)                 /* table, cursor -> table, cursor, 1|0 */ \
  X(POP, "pop", false, -1)                                                                 \
  X(POP2, "pop2", false, -2)                                                               \
  X(DUP, "dup", false, 1)                                                                  \
  X(DUP2, "dup2", false, 2) /* a, b -> a, b, a, b */                                       \
  X(SWAP, "swap", false, 0)                                                                \
  X(PUSHNULL, "pushnull", false, 1)                                                        \
  X(PUSHINT, "pushint", true, 1)                                                           \
  X(PUSHINT0, "pushint0", false, 1)                                                        \
  X(PUSHINT1, "pushint1", false, 1)                                                        \
  X(PUSHFLOAT, "pushfloat", true, 1)                                                       \
  X(PUSHSTRING, "pushstring", true, 1)                                                     \
  X(PUSHTABLE, "pushtable", false, 1) /* new empty table */                                \
  X(PUSHFUNCTION, "pushfunction", true, 1)                                                 \
  X(PUSHTHIS, "pushthis", false, 1)                                                        \
  X(GETLOCAL, "getlocal", true, 1)                                                         \
  X(SETLOCAL, "setlocal", true, -1)                                                        \
  X(GETGLOBAL, "getglobal", true, 1)                                                       \
  X(SETGLOBAL, "setglobal", true, -1)                                                      \
  X(GETTHIS, "getthis", true, 1)  /* this.name */                                          \
  X(SETTHIS, "setthis", true, -1) /* value -> ; this.name = value */

enum gmByteCode : uint32_t {
#define GM_BC_ENUM(e, name, operand, effect) BC_##e,
  GM_BYTECODES(GM_BC_ENUM)
#undef GM_BC_ENUM
      BC_COUNT  // 55; words at or above this are not instructions
};

static_assert(BC_SETTHIS == 54 && BC_COUNT == 55, "opcode numbers are stored in byte code");

struct gmByteCodeInfo {
  const char* name;
  bool hasOperand;
  int stackEffect;
};

inline constexpr gmByteCodeInfo gmByteCodeTable[BC_COUNT] = {
#define GM_BC_INFO(e, name, operand, effect) {name, operand, effect},
    GM_BYTECODES(GM_BC_INFO)
#undef GM_BC_INFO
};

// Name of an opcode for listings and messages; "undefined" for words that are not opcodes.
inline const char* gmByteCodeName(uint32_t op) { return op < BC_COUNT ? gmByteCodeTable[op].name : "undefined"; }

// Size in bytes of the instruction starting with `op` (an unknown word counts as one word,
// which is how the interpreter skips it).
inline int gmByteCodeSize(uint32_t op) { return (op < BC_COUNT && gmByteCodeTable[op].hasOperand) ? 8 : 4; }

#endif
