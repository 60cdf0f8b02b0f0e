#include "script/values/gmOperators.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "script/vm/gmMachine.h"

namespace {

const char* const kOperatorNames[O_MAXOPERATORS] = {
    "getdot", "setdot", "getind", "setind",    "add",        "sub",    "mul",  "div", "mod",
    "bitor",  "bitxor", "bitand", "shiftleft", "shiftright", "bitinv", "lt",   "gt",  "lte",
    "gte",    "eq",     "neq",    "neg",       "pos",        "not",    "bool",
};

#define GM_OP_ARGS gmMachine *a_machine, gmThread *, gmVariable *a_op
#define GM_OP_UNUSED (void)a_machine

// ---- int (also meets null operands) --------------------------------------------------------
// Computes on the payloads and writes only slot 0's payload: the result keeps slot 0's type.
// Arithmetic wraps in 32 bits (done unsigned, where wrapping is defined).

inline gmuint U(const gmVariable& v) { return v.Payload32(); }
inline gmint I(const gmVariable& v) { return static_cast<gmint>(v.Payload32()); }

int IntAdd(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) + U(a_op[1])));
  return GM_OPERATOR_OK;
}
int IntSub(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) - U(a_op[1])));
  return GM_OPERATOR_OK;
}
int IntMul(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) * U(a_op[1])));
  return GM_OPERATOR_OK;
}

// A zero divisor would raise SIGFPE and end the game: it fails the thread instead. The
// minimum int divided by -1 (also a hardware trap) wraps to itself with remainder 0.
int IntDiv(GM_OP_ARGS) {
  GM_OP_UNUSED;
  gmint a = I(a_op[0]), b = I(a_op[1]);
  if (b == 0) return GM_OPERATOR_DIVIDE_BY_ZERO;
  a_op[0].SetIntPayload(b == -1 ? static_cast<gmint>(0u - static_cast<gmuint>(a)) : a / b);
  return GM_OPERATOR_OK;
}
int IntRem(GM_OP_ARGS) {
  GM_OP_UNUSED;
  gmint a = I(a_op[0]), b = I(a_op[1]);
  if (b == 0) return GM_OPERATOR_MODULO_BY_ZERO;
  a_op[0].SetIntPayload(b == -1 ? 0 : a % b);
  return GM_OPERATOR_OK;
}

int IntBitOr(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) | U(a_op[1])));
  return GM_OPERATOR_OK;
}
int IntBitXor(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) ^ U(a_op[1])));
  return GM_OPERATOR_OK;
}
int IntBitAnd(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) & U(a_op[1])));
  return GM_OPERATOR_OK;
}
int IntShiftLeft(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(U(a_op[0]) << (U(a_op[1]) & 31)));
  return GM_OPERATOR_OK;
}
// Arithmetic: the sign propagates.
int IntShiftRight(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) >> (U(a_op[1]) & 31));
  return GM_OPERATOR_OK;
}
int IntBitInv(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(~U(a_op[0])));
  return GM_OPERATOR_OK;
}

int IntLt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) < I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntGt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) > I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntLte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) <= I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntGte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) >= I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntEq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) == I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntNeq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(I(a_op[0]) != I(a_op[1]));
  return GM_OPERATOR_OK;
}
int IntNeg(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(static_cast<gmint>(0u - U(a_op[0])));
  return GM_OPERATOR_OK;
}
int IntPos(GM_OP_ARGS) {
  GM_OP_UNUSED;
  (void)a_op;
  return GM_OPERATOR_OK;
}
int IntNot(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetIntPayload(U(a_op[0]) == 0);
  return GM_OPERATOR_OK;
}

// ---- float (also meets null and int operands) --------------------------------------------

inline gmfloat F(const gmVariable& v) { return v.type == GM_FLOAT ? v.GetFloat() : static_cast<gmfloat>(I(v)); }

int FloatAdd(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(F(a_op[0]) + F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatSub(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(F(a_op[0]) - F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatMul(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(F(a_op[0]) * F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatDiv(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(F(a_op[0]) / F(a_op[1]));
  return GM_OPERATOR_OK;
}
// The floating remainder takes the dividend's sign.
int FloatRem(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(std::fmod(F(a_op[0]), F(a_op[1])));
  return GM_OPERATOR_OK;
}
int FloatLt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) < F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatGt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) > F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatLte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) <= F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatGte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) >= F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatEq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) == F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatNeq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) != F(a_op[1]));
  return GM_OPERATOR_OK;
}
int FloatNeg(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetFloat(-F(a_op[0]));
  return GM_OPERATOR_OK;
}
int FloatPos(GM_OP_ARGS) {
  GM_OP_UNUSED;
  (void)a_op;
  return GM_OPERATOR_OK;
}
// Zero of either sign.
int FloatNot(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(F(a_op[0]) == 0.0f);
  return GM_OPERATOR_OK;
}

// ---- string (also meets null, int and float operands) -------------------------------------

// Room for "%f" of the largest float (39 integer digits, sign, point, six decimals).
const int kNumberText = 64;

// The same text as "%d", without the printf machinery: concatenating numbers into keys
// is common in scripts, and formatting was a large share of it. Works on the unsigned
// magnitude so that the most negative int needs no special case.
char* IntText(gmint a_value, char* a_buffer) {
  char digits[12];
  char* d = digits + sizeof(digits);
  uint32_t magnitude = a_value < 0 ? 0u - static_cast<uint32_t>(a_value) : static_cast<uint32_t>(a_value);
  do {
    *--d = static_cast<char>('0' + magnitude % 10u);
    magnitude /= 10u;
  } while (magnitude != 0);
  char* out = a_buffer;
  if (a_value < 0) *out++ = '-';
  size_t count = static_cast<size_t>(digits + sizeof(digits) - d);
  std::memcpy(out, d, count);
  out[count] = '\0';
  return a_buffer;
}

// The compare operators' text of an operand: own text, "%d", "%f", else "null".
const char* OperandText(const gmVariable& v, char* a_buffer) {
  switch (v.type) {
    case GM_STRING:
      return v.GetStringObject()->text;
    case GM_INT:
      return IntText(v.GetInt(), a_buffer);
    case GM_FLOAT:
      std::snprintf(a_buffer, kNumberText, "%f", static_cast<double>(v.GetFloat()));
      return a_buffer;
    default:
      return "null";
  }
}

// add also reads the borrowed C text type. A null text pointer reads as "null".
const char* AddOperandText(const gmVariable& v, char* a_buffer) {
  if (v.type == GM_CSTRING) {
    const gmUserObject* u = v.GetUserObject();
    return (u && u->user) ? static_cast<const char*>(u->user) : "null";
  }
  return OperandText(v, a_buffer);
}

int StringCompare(gmVariable* a_op) {
  char left[kNumberText], right[kNumberText];
  return std::strcmp(OperandText(a_op[0], left), OperandText(a_op[1], right));
}

int StringLt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) < 0);
  return GM_OPERATOR_OK;
}
int StringGt(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) > 0);
  return GM_OPERATOR_OK;
}
int StringLte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) <= 0);
  return GM_OPERATOR_OK;
}
int StringGte(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) >= 0);
  return GM_OPERATOR_OK;
}
int StringEq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) == 0);
  return GM_OPERATOR_OK;
}
int StringNeq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(StringCompare(a_op) != 0);
  return GM_OPERATOR_OK;
}
int StringNot(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(0);
  return GM_OPERATOR_OK;
}

// ---- table, identity and null test ----------------------------------------------------------

// getind is binary and may be chosen for a lower-typed left operand (5[t]): only a table
// is read; anything else gives null.
int TableGetInd(GM_OP_ARGS) {
  GM_OP_UNUSED;
  if (a_op[0].type != GM_TABLE) {
    a_op[0].SetNull();
    return GM_OPERATOR_OK;
  }
  a_op[0] = a_op[0].GetTableObject()->Get(a_op[1]);
  return GM_OPERATOR_OK;
}
int TableGetDot(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0] = a_op[0].GetTableObject()->Get(a_op[1]);
  return GM_OPERATOR_OK;
}
int TableSetDot(GM_OP_ARGS) {
  a_op[0].GetTableObject()->Set(a_machine, a_op[2], a_op[1]);
  return GM_OPERATOR_OK;
}
int TableSetInd(GM_OP_ARGS) {
  a_op[0].GetTableObject()->Set(a_machine, a_op[1], a_op[2]);
  return GM_OPERATOR_OK;
}

int IdentityEq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(a_op[0].Same(a_op[1]));
  return GM_OPERATOR_OK;
}
int IdentityNeq(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(!a_op[0].Same(a_op[1]));
  return GM_OPERATOR_OK;
}
int NullTest(GM_OP_ARGS) {
  GM_OP_UNUSED;
  a_op[0].SetInt(a_op[0].type == GM_NULL);
  return GM_OPERATOR_OK;
}

#undef GM_OP_ARGS
#undef GM_OP_UNUSED

// One side of a string add: a string brings its length and hash, anything else becomes text
// measured and hashed here (numbers are short).
struct AddPart {
  const char* text;
  size_t length;
  gmuint hash;
};

AddPart AddPartOf(const gmVariable& v, char* a_buffer) {
  if (v.type == GM_STRING) {
    const gmStringObject* s = v.GetStringObject();
    return {s->text, static_cast<size_t>(s->length), s->hash};
  }
  const char* text = AddOperandText(v, a_buffer);
  size_t length = std::strlen(text);
  return {text, length, gmStringHash(text, length)};
}

}  // namespace

int gmStringOpAdd(gmMachine* a_machine, gmThread*, gmVariable* a_op) {
  char leftBuffer[kNumberText], rightBuffer[kNumberText];
  AddPart left = AddPartOf(a_op[0], leftBuffer);
  AddPart right = AddPartOf(a_op[1], rightBuffer);
  if (left.length + right.length > static_cast<size_t>(a_machine->maxStringLength)) return GM_OPERATOR_STRING_TOO_LONG;
  size_t total = left.length + right.length + 1;
  char local[256];
  char* joined = total <= sizeof(local) ? local : static_cast<char*>(a_machine->Alloc(total));
  std::memcpy(joined, left.text, left.length);
  std::memcpy(joined + left.length, right.text, right.length + 1);
  // Scripts build long texts piece by piece: hashing each result anew would read the whole
  // text again for every piece added.
  gmuint hash = gmStringHashJoin(left.hash, right.hash, right.length);
  a_op[0].SetString(a_machine->MakeStringHashed(joined, static_cast<int>(total - 1), hash));
  if (joined != local) a_machine->Free(joined);
  return GM_OPERATOR_OK;
}

const char* gmGetOperatorName(int a_operator) {
  if (a_operator < 0 || a_operator >= O_MAXOPERATORS) return "undefined";
  return kOperatorNames[a_operator];
}

int gmGetOperatorType(const char* a_name) {
  if (!a_name) return O_MAXOPERATORS;
  for (int i = 0; i < O_MAXOPERATORS; ++i) {
    if (strcasecmp(a_name, kOperatorNames[i]) == 0) return i;
  }
  return O_MAXOPERATORS;
}

const char* gmOperatorStatusText(int a_status) {
  switch (a_status) {
    case GM_OPERATOR_DIVIDE_BY_ZERO:
      return "integer division by zero";
    case GM_OPERATOR_MODULO_BY_ZERO:
      return "integer modulo by zero";
    case GM_OPERATOR_STRING_TOO_LONG:
      return "string too long";
    default:
      return nullptr;
  }
}

void gmInitBuiltinTypeOperators(gmMachine* m) {
  // null
  m->SetTypeOperator(GM_NULL, O_EQ, nullptr, IdentityEq);
  m->SetTypeOperator(GM_NULL, O_NEQ, nullptr, IdentityNeq);
  m->SetTypeOperator(GM_NULL, O_NOT, nullptr, NullTest);

  // int
  const gmOperatorFunction intOps[O_MAXOPERATORS] = {
      nullptr,  nullptr,   nullptr,   nullptr,      IntAdd,        IntSub,    IntMul,  IntDiv, IntRem,
      IntBitOr, IntBitXor, IntBitAnd, IntShiftLeft, IntShiftRight, IntBitInv, IntLt,   IntGt,  IntLte,
      IntGte,   IntEq,     IntNeq,    IntNeg,       IntPos,        IntNot,    nullptr,
  };
  const gmOperatorFunction floatOps[O_MAXOPERATORS] = {
      nullptr,  nullptr, nullptr,  nullptr,  FloatAdd, FloatSub, FloatMul, FloatDiv, FloatRem,
      nullptr,  nullptr, nullptr,  nullptr,  nullptr,  nullptr,  FloatLt,  FloatGt,  FloatLte,
      FloatGte, FloatEq, FloatNeq, FloatNeg, FloatPos, FloatNot, nullptr,
  };
  for (int op = 0; op < O_MAXOPERATORS; ++op) {
    m->SetTypeOperator(GM_INT, op, nullptr, intOps[op]);
    m->SetTypeOperator(GM_FLOAT, op, nullptr, floatOps[op]);
  }

  // string
  m->SetTypeOperator(GM_STRING, O_ADD, nullptr, gmStringOpAdd);
  m->SetTypeOperator(GM_STRING, O_LT, nullptr, StringLt);
  m->SetTypeOperator(GM_STRING, O_GT, nullptr, StringGt);
  m->SetTypeOperator(GM_STRING, O_LTE, nullptr, StringLte);
  m->SetTypeOperator(GM_STRING, O_GTE, nullptr, StringGte);
  m->SetTypeOperator(GM_STRING, O_EQ, nullptr, StringEq);
  m->SetTypeOperator(GM_STRING, O_NEQ, nullptr, StringNeq);
  m->SetTypeOperator(GM_STRING, O_NOT, nullptr, StringNot);

  // table
  m->SetTypeOperator(GM_TABLE, O_GETDOT, nullptr, TableGetDot);
  m->SetTypeOperator(GM_TABLE, O_GETIND, nullptr, TableGetInd);
  m->SetTypeOperator(GM_TABLE, O_SETDOT, nullptr, TableSetDot);
  m->SetTypeOperator(GM_TABLE, O_SETIND, nullptr, TableSetInd);
  m->SetTypeOperator(GM_TABLE, O_EQ, nullptr, IdentityEq);
  m->SetTypeOperator(GM_TABLE, O_NEQ, nullptr, IdentityNeq);
  m->SetTypeOperator(GM_TABLE, O_NOT, nullptr, NullTest);

  // function: the user type defaults
  gmInitUserTypeOperators(m, GM_FUNCTION);
}

void gmInitUserTypeOperators(gmMachine* m, int a_type) {
  m->SetTypeOperator(a_type, O_EQ, nullptr, IdentityEq);
  m->SetTypeOperator(a_type, O_NEQ, nullptr, IdentityNeq);
  m->SetTypeOperator(a_type, O_NOT, nullptr, NullTest);
}
