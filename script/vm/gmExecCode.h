#ifndef GMEXECCODE_H
#define GMEXECCODE_H

// The interpreter's working copy of a function's byte code.
//
// A stack machine spends most of its time dispatching: `i += 1` is four instructions, a
// loop test another four. The working copy has the same length and layout as the byte code,
// word for word, except that the first word of a common straight-line sequence (a local and a
// constant into an operator, an operator into a local or a conditional jump, a member read
// of a local, a member store of the kind table constructors make, ...) is replaced by one
// combined instruction that does the whole sequence in one dispatch.
//
// Only that first word changes, so every position, jump target, return address and line
// entry means the same in both, and a jump or a return into the middle of a sequence simply
// runs the original instructions that are still there. A combined instruction takes its
// shortcut only when every operand has the type its fast path handles; otherwise it executes
// the sequence's first instruction the ordinary way (the "first" opcode below) and the rest
// follows one by one, so every result, operator call and error message is the one the plain
// instructions give.
//
// A combined word is the handler number in its low GM_EXEC_HANDLER_BITS bits and the index of
// its operand record (gmExecOp) above them. Each handler stands for one exact layout, so the
// length it steps over is a constant of the handler: were it read from the record, every
// instruction's fetch would wait for the previous record's load, and the interpreter would
// run slower than with plain instructions. Hence one-word constants (pushint0, pushint1,
// pushnull) have forms of their own.
//
// Two more kinds of word save a dispatch each, again only in the first word of what they
// stand for, so the code means the same from every position:
// - A `line` becomes the line variant of the instruction after it (for a combined one, its
//   handler number plus GM_EX_LINE_OFFSET with the same record; for a plain one,
//   GM_EX_LINE_PLAIN_FIRST plus its opcode). With no line hook set it steps over the `line`
//   and goes on as that instruction without a dispatch of its own; with a hook set it is an
//   ordinary `line`, so the hook sees every line.
// - A `jump` whose target holds a combined instruction becomes that instruction's jump
//   variant (handler number plus GM_EX_JUMP_OFFSET, the target's record): it jumps and goes
//   on as the target's instruction. Loops end this way.

#include <cstdint>

#include "script/compiler/gmByteCode.h"
#include "script/values/gmVariable.h"

class gmFunctionObject;

// Operand record of one combined instruction.
struct gmExecOp {
  gmVariable k;          // the constant operand (int, float, null or string)
  gmStringObject* name;  // member name of member reads and stores (setdot sinks too)
  gmint a;               // first local slot
  gmint b;               // second local slot
  gmint c;               // destination slot, or jump target (byte offset)
  gmuint first;          // opcode of the first instruction of the sequence
};

const int GM_EXEC_HANDLER_BITS = 11;
const uint32_t GM_EXEC_HANDLER_MASK = (1u << GM_EXEC_HANDLER_BITS) - 1;

// Operators that combine, in handler order.
#define GM_EXEC_OPERATORS(Y, form) \
  GM_EXEC_SINKS(Y, form, ADD)      \
  GM_EXEC_SINKS(Y, form, SUB)      \
  GM_EXEC_SINKS(Y, form, MUL)      \
  GM_EXEC_SINKS(Y, form, DIV)      \
  GM_EXEC_SINKS(Y, form, MOD)      \
  GM_EXEC_SINKS(Y, form, LT)       \
  GM_EXEC_SINKS(Y, form, GT)       \
  GM_EXEC_SINKS(Y, form, LTE)      \
  GM_EXEC_SINKS(Y, form, GTE)      \
  GM_EXEC_SINKS(Y, form, EQ)       \
  GM_EXEC_SINKS(Y, form, NEQ)
const int GM_EXEC_OPERATOR_COUNT = 11;

// Where an operator's result goes: pushed, stored into a local (setlocal), tested by
// jumpzero / jumpnotzero, or stored as a member of the object below the operands (setdot).
#define GM_EXEC_SINKS(Y, form, op) \
  Y(form, op, PUSH) Y(form, op, SET) Y(form, op, JZ) Y(form, op, JNZ) Y(form, op, SETDOT)
enum gmExecSink { GM_SINK_PUSH, GM_SINK_SET, GM_SINK_JZ, GM_SINK_JNZ, GM_SINK_SETDOT, GM_SINK_COUNT };

// Where the operands come from: LL two locals, LK a local and a constant, SL the stack top
// and a local, SK the stack top and a constant, SS the two top stack values; LK1 and SK1 are
// LK and SK with a one-word constant push.
#define GM_EXEC_BINARY(Y)   \
  GM_EXEC_OPERATORS(Y, LL)  \
  GM_EXEC_OPERATORS(Y, LK)  \
  GM_EXEC_OPERATORS(Y, LK1) \
  GM_EXEC_OPERATORS(Y, SL)  \
  GM_EXEC_OPERATORS(Y, SK)  \
  GM_EXEC_OPERATORS(Y, SK1) \
  GM_EXEC_OPERATORS(Y, SS)
enum gmExecForm { GM_FORM_LL, GM_FORM_LK, GM_FORM_LK1, GM_FORM_SL, GM_FORM_SK, GM_FORM_SK1, GM_FORM_SS, GM_FORM_COUNT };
// Bytes after the first word up to the operator itself, by form; sinks other than a push add
// one two-word instruction.
#define GM_EXEC_SKIP_LL 16
#define GM_EXEC_SKIP_LK 16
#define GM_EXEC_SKIP_LK1 12
#define GM_EXEC_SKIP_SL 8
#define GM_EXEC_SKIP_SK 8
#define GM_EXEC_SKIP_SK1 4
#define GM_EXEC_SKIP_SS 0
#define GM_EXEC_SKIP_PUSH 0
#define GM_EXEC_SKIP_SET 8
#define GM_EXEC_SKIP_JZ 8
#define GM_EXEC_SKIP_JNZ 8
#define GM_EXEC_SKIP_SETDOT 8

// The other combined instructions (L local, K constant, K1 one-word constant, N null,
// G global, D dup), with the bytes each steps over after its first word:
//   LDOT        getlocal a; getdot name                 12
//   MOVE        getlocal a; setlocal c                  12
//   KSET        push constant; setlocal c               12
//   K1SET       push one-word constant; setlocal c       8
//   LL_GETIND   getlocal a; getlocal b; getind          16
//   SL_GETIND   getlocal b; getind                       8
//   LL_SETDOT   getlocal a; getlocal b; setdot name     20
//   LK_SETDOT   getlocal a; push constant; setdot name  20
//   LK1_SETDOT  getlocal a; push one-word constant; setdot name  16
//   DL_SETDOT   dup; getlocal b; setdot name            16
//   DK_SETDOT   dup; push constant; setdot name         16
//   DK1_SETDOT  dup; push one-word constant; setdot name 12
//   NG          pushnull; getglobal name                 8
//   LL          getlocal a; getlocal b                  12
//   TDOT        pushthis; getdot name                    8
//   DDOT        dup; getdot name                         8
//   GDOT        getglobal k; getdot name                12
//   LRET        getlocal a; returnvalue                  8
//   FOREACH_JZ  foreach a<<16|b; jumpzero c             12
//   LDDOT       getlocal a; dup; getdot name            16
//   TDDOT       pushthis; dup; getdot name              12
//   TTDOT       pushthis; pushthis; getdot name         12
#define GM_EXEC_OTHERS(X) \
  X(LDOT, 12)             \
  X(MOVE, 12)             \
  X(KSET, 12)             \
  X(K1SET, 8)             \
  X(LL_GETIND, 16)        \
  X(SL_GETIND, 8)         \
  X(LL_SETDOT, 20)        \
  X(LK_SETDOT, 20)        \
  X(LK1_SETDOT, 16)       \
  X(DL_SETDOT, 16)        \
  X(DK_SETDOT, 16)        \
  X(DK1_SETDOT, 12)       \
  X(NG, 8)                \
  X(LL, 12)               \
  X(TDOT, 8)              \
  X(DDOT, 8)              \
  X(GDOT, 12)             \
  X(LRET, 8)              \
  X(FOREACH_JZ, 12)       \
  X(LDDOT, 16)            \
  X(TDDOT, 12)            \
  X(TTDOT, 12)

// The lengths above, by name, for the interpreter's handlers.
enum gmExecOtherSkip {
#define GM_EX_OTHER_SKIP_ENUM(e, skip) GM_EX_SKIP_##e = skip,
  GM_EXEC_OTHERS(GM_EX_OTHER_SKIP_ENUM)
#undef GM_EX_OTHER_SKIP_ENUM
};

enum gmExecHandler : uint32_t {
  GM_EX_BINARY_FIRST = BC_COUNT,
  GM_EX_BEFORE_BINARY = BC_COUNT - 1,  // so that the first binary handler is BC_COUNT
#define GM_EX_BINARY_ENUM(form, op, sink) GM_EX_##form##_##op##_##sink,
  GM_EXEC_BINARY(GM_EX_BINARY_ENUM)
#undef GM_EX_BINARY_ENUM
#define GM_EX_OTHER_ENUM(e, skip) GM_EX_##e,
      GM_EXEC_OTHERS(GM_EX_OTHER_ENUM)
#undef GM_EX_OTHER_ENUM
          GM_EX_COMBINED_END,
  GM_EX_LINE_OFFSET = GM_EX_COMBINED_END - BC_COUNT,
  GM_EX_JUMP_OFFSET = 2 * GM_EX_LINE_OFFSET,
  GM_EX_LINE_PLAIN_FIRST = GM_EX_COMBINED_END + 2 * GM_EX_LINE_OFFSET,
  GM_EX_COUNT = GM_EX_LINE_PLAIN_FIRST + BC_COUNT
};
static_assert(GM_EX_COUNT <= (1u << GM_EXEC_HANDLER_BITS), "handler numbers must fit their bits");
static_assert(GM_EX_LL_ADD_PUSH == GM_EX_BINARY_FIRST && GM_EX_SS_NEQ_SETDOT + 1 == GM_EX_LDOT,
              "binary handlers are numbered form by form, operator by operator, sink by sink");

// Bytes a handler steps over after its first word.
int gmExecSkip(uint32_t a_handler);

// Builds (or rebuilds) the function's working copy and operand records from its byte code
// and references. Script functions only; does nothing without byte code.
void gmBuildExecCode(gmFunctionObject* a_function);
// Releases them.
void gmFreeExecCode(gmFunctionObject* a_function);

// Whether working copies built from now on combine instructions (on by default). Off, the
// copy equals the byte code: tests compare the two ways of running the same program.
void gmSetExecCombining(bool a_on);

#endif
