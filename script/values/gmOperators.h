#ifndef GMOPERATORS_H
#define GMOPERATORS_H

// Operator numbers and names, the native operator signature, and the built-in operators of
// the six built-in types. Operator numbers 0 to 23 are also the opcodes of the operator
// instructions.

#include "script/values/gmVariable.h"

enum gmOperator {
  O_GETDOT = 0,
  O_SETDOT,
  O_GETIND,
  O_SETIND,
  O_ADD,
  O_SUB,
  O_MUL,
  O_DIV,
  O_REM,
  O_BIT_OR,
  O_BIT_XOR,
  O_BIT_AND,
  O_BIT_SHIFTLEFT,
  O_BIT_SHIFTRIGHT,
  O_BIT_INV,
  O_LT,
  O_GT,
  O_LTE,
  O_GTE,
  O_EQ,
  O_NEQ,
  O_NEG,
  O_POS,
  O_NOT,
  O_BOOL,
  O_MAXOPERATORS,  // 25: "no operator", what a failed name lookup yields
};

// Native operators return one of these. Anything but GM_OPERATOR_OK fails the calling
// script thread: the virtual machine logs gmOperatorStatusText(status) when that is not
// null (a status of GM_OPERATOR_FAILED means the operator logged its own message) and then
// fails the thread as for any run-time error.
enum gmOperatorStatus {
  GM_OPERATOR_OK = 0,
  GM_OPERATOR_FAILED = 1,
  GM_OPERATOR_DIVIDE_BY_ZERO = 2,
  GM_OPERATOR_MODULO_BY_ZERO = 3,
  GM_OPERATOR_STRING_TOO_LONG = 4,
};

// A native operator. Slot 0 of a_operands receives the result; layouts:
//   binary (2, 4 to 20): 0 left, 1 right       unary (14, 21 to 24): 0 operand
//   getdot: 0 object, 1 key string             setdot: 0 object, 1 value, 2 key string
//   setind: 0 object, 1 index, 2 value
// A getdot that finds nothing writes null. a_thread is the calling thread, or null when
// the operator is applied outside any thread (the machine is always given).
typedef int (*gmOperatorFunction)(gmMachine* a_machine, gmThread* a_thread, gmVariable* a_operands);

// "getdot", "add", ...; "undefined" for any number outside 0 to 24.
const char* gmGetOperatorName(int a_operator);
// Case-insensitive; O_MAXOPERATORS when the name is not an operator's.
int gmGetOperatorType(const char* a_name);
// The message the virtual machine logs for a failed operator, or null.
const char* gmOperatorStatusText(int a_status);

// Fill the operator slots of the built-in types and the defaults of a user type.
void gmInitBuiltinTypeOperators(gmMachine* a_machine);
void gmInitUserTypeOperators(gmMachine* a_machine, int a_type);

// String concatenation, also installed by the machine extension as the add operator of its
// C text type.
int gmStringOpAdd(gmMachine* a_machine, gmThread* a_thread, gmVariable* a_operands);

#endif
