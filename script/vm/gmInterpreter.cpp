// The byte code interpreter: gmThread::Run.
//
// The instruction position, stack top and frame base live in locals (ip, top, base) for the
// whole loop. The thread's own fields are written back (SAVE) before anything that can look
// at the thread or move its stack: calls, operator calls, natives, stops and failures; and
// read again (LOAD) after anything that can change them. `ip` always points just past the
// instruction being executed, which is also the position saved for a stop or a failure
// (jumps read their target last, so theirs point at it until they branch).
//
// Int and float operands take a fast path that computes exactly what the registered
// operators of those types compute; every other operand pair goes through the type
// registry, native operator first, then script operator.

#include <new>
#include <cstring>

#include "script/compiler/gmByteCode.h"
#include "script/vm/gmExecCode.h"
#include "script/vm/gmMachine.h"
#include "script/vm/gmThread.h"

#if defined(__GNUC__) || defined(__clang__)
#define GM_COMPUTED_GOTO 1
#else
#define GM_COMPUTED_GOTO 0
#endif

namespace {

inline gmuint ReadWord(const gmuint8* a_at) {
  gmuint w;
  std::memcpy(&w, a_at, sizeof(w));
  return w;
}

// Where a table keeps the value of a member name, or null when the name is absent. Names are
// strings, which only an explicit table holds (a compact one holds int keys alone), and a
// string hashes by its address: the general lookup's tests of the key's kind fall away.
GM_FORCEINLINE gmVariable* FindMember(const gmTableObject* a_table, const gmStringObject* a_name) {
  gmTableNode* const nodes = a_table->nodes;
  if (!nodes) return nullptr;
  const gmuint hash = static_cast<gmuint>(reinterpret_cast<gmuptr>(a_name) >> 2);
  gmTableNode* node = &nodes[hash & static_cast<gmuint>(a_table->tableSize - 1)];
  for (;;) {
    if (node->key.value.ref == a_name && node->key.type == GM_STRING) return &node->value;
    if (!node->key.link) return nullptr;
    node = &nodes[node->key.link - 1];
  }
}

// A global's value, null when absent.
GM_FORCEINLINE gmVariable ReadGlobal(const gmTableObject* a_globals, gmStringObject* a_name) {
  const gmVariable* value = FindMember(a_globals, a_name);
  return value ? *value : gmVariable::Null();
}

// A table's member as getdot reads it: the table's own value, else its type's variable.
// a_out may be the table's own slot: the table is read before it is written.
GM_FORCEINLINE void ReadTableMember(gmMachine* a_machine, const gmVariable& a_table, gmStringObject* a_name,
                                    gmVariable* a_out) {
  if (const gmVariable* value = FindMember(a_table.GetTableObject(), a_name)) {
    if (value->type != GM_NULL) {
      *a_out = *value;
      return;
    }
  }
  *a_out = a_machine->GetTypeVariables(GM_TABLE)->Get(gmVariable(a_name));
}

// An element read. An int key of a compact table indexes the values directly: a free value
// is null, which is what an absent key reads as.
GM_FORCEINLINE gmVariable ReadElement(const gmTableObject* a_table, const gmVariable& a_key) {
  if (a_key.type == GM_INT && a_table->values) {
    if (static_cast<gmuint>(a_key.value.i) < static_cast<gmuint>(a_table->tableSize))
      return a_table->values[a_key.value.i];
    return gmVariable::Null();
  }
  return a_table->Get(a_key);
}

// A store as gmTableObject::Set makes it, with its commonest case (a non-null value over a
// non-reference value of an existing key, which needs no write barrier) kept inside the
// interpreter loop; everything else is Set's own. a_found is where the key's value lives, as
// FindValue or FindMember give it: for an int key of a compact table, Find would hand out a
// copy and the store would be lost.
GM_FORCEINLINE void StoreTableValue(gmMachine* a_machine, gmTableObject* a_table, gmVariable* a_found,
                                    const gmVariable& a_key, const gmVariable& a_value) {
  if (a_value.type != GM_NULL && a_found && !a_found->IsReference()) {
    *a_found = a_value;
    return;
  }
  a_table->Set(a_machine, a_key, a_value);
}

GM_FORCEINLINE void StoreTableMember(gmMachine* a_machine, gmTableObject* a_table, gmStringObject* a_name,
                                     const gmVariable& a_value) {
  StoreTableValue(a_machine, a_table, FindMember(a_table, a_name), gmVariable(a_name), a_value);
}

GM_FORCEINLINE void StoreTableElement(gmMachine* a_machine, gmTableObject* a_table, const gmVariable& a_key,
                                      const gmVariable& a_value) {
  StoreTableValue(a_machine, a_table, a_table->FindValue(a_key), a_key, a_value);
}

// The fast paths of the operator instructions below as one function for the combined
// instructions: false when the operands need the operator's own path.
// The comparison operators on two numbers of one kind.
template <uint32_t OP, class T>
inline bool Compare(T x, T y) {
  if constexpr (OP == BC_LT) return x < y;
  if constexpr (OP == BC_GT) return x > y;
  if constexpr (OP == BC_LTE) return x <= y;
  if constexpr (OP == BC_GTE) return x >= y;
  if constexpr (OP == BC_EQ) return x == y;
  if constexpr (OP == BC_NEQ) return x != y;
}

template <uint32_t OP>
inline bool FastBinary(const gmVariable& a, const gmVariable& b, gmVariable& r) {
  constexpr bool comparison = OP >= BC_LT && OP <= BC_NEQ;
  if (a.type == GM_INT && b.type == GM_INT) {
    const gmuint x = a.Payload32(), y = b.Payload32();
    const gmint sx = static_cast<gmint>(x), sy = static_cast<gmint>(y);
    if constexpr (OP == BC_ADD) r.SetInt(static_cast<gmint>(x + y));
    if constexpr (OP == BC_SUB) r.SetInt(static_cast<gmint>(x - y));
    if constexpr (OP == BC_MUL) r.SetInt(static_cast<gmint>(x * y));
    if constexpr (OP == BC_DIV || OP == BC_MOD) {
      // Zero and -1 divisors are the operator's business (failure, wrap-around).
      if (sy == 0 || sy == -1) return false;
      r.SetInt(OP == BC_DIV ? sx / sy : sx % sy);
    }
    if constexpr (comparison) r.SetInt(Compare<OP>(sx, sy));
    return true;
  }
  if constexpr (OP == BC_MOD) {
    return false;
  } else {
    // Each operand's kind is tested once, on the way to its float reading.
    gmfloat fx = 0, fy = 0;
    bool numbers = true;
    if (a.type == GM_FLOAT) {
      fx = a.GetFloat();
      if (b.type == GM_FLOAT)
        fy = b.GetFloat();
      else if (b.type == GM_INT)
        fy = static_cast<gmfloat>(b.GetInt());
      else
        numbers = false;
    } else if (a.type == GM_INT && b.type == GM_FLOAT) {
      fx = static_cast<gmfloat>(a.GetInt());
      fy = b.GetFloat();
    } else {
      numbers = false;
    }
    if (numbers) {
      if constexpr (OP == BC_ADD) r.SetFloat(fx + fy);
      if constexpr (OP == BC_SUB) r.SetFloat(fx - fy);
      if constexpr (OP == BC_MUL) r.SetFloat(fx * fy);
      if constexpr (OP == BC_DIV) r.SetFloat(fx / fy);
      if constexpr (comparison) r.SetInt(Compare<OP>(fx, fy));
      return true;
    }
    // Strings are interned, so equal texts are the same object; tables and functions
    // compare by identity.
    if constexpr (OP == BC_EQ || OP == BC_NEQ) {
      if (a.type == b.type && a.type >= GM_STRING && a.type <= GM_FUNCTION) {
        r.SetInt((a.GetObject() == b.GetObject()) == (OP == BC_EQ));
        return true;
      }
    }
    return false;
  }
}

}  // namespace

int gmThread::Run(gmVariable* a_result) {
  gmMachine* const machine = m_machine;
  if (machine->nestedRuns >= gmMachine::MAX_NESTED_RUNS && m_state == RUNNING && !m_executing && m_frame) {
    LogError("stack overflow");
    return Fail(m_instruction);
  }
  const bool gcEnabled = machine->IsGCEnabled();
  ++machine->nestedRuns;
  int state;
  try {
    state = Execute(a_result);
  } catch (const gmOutOfMemory&) {
    state = OutOfMemory(gcEnabled);
  } catch (const std::bad_alloc&) {
    state = OutOfMemory(gcEnabled);
  }
  --machine->nestedRuns;
  return state;
}

// The allocation that failed was abandoned part-way; whatever it had made is unreachable
// from this thread, which ends now. A full collection gives the memory back at once, as a
// script could have asked for at this point.
int gmThread::OutOfMemory(bool a_gcEnabled) {
  gmMachine* const machine = m_machine;
  m_executing = 0;
  machine->EnableGC(a_gcEnabled);
  LogError("out of memory");
  machine->SwitchThreadState(this, KILLED);
  machine->Collect(true);
  return m_state;
}

int gmThread::Execute(gmVariable* a_result) {
  // Not while its interpreter is already further up the C++ stack (a native running its
  // own thread): the outer loop's locals would no longer match the stack.
  if (m_state != RUNNING || m_executing) return m_state;
  gmMachine* const machine = m_machine;

  if (!m_frame) {
    // The bottom call was a native that completed when it was pushed: its result is at
    // top-1. Nothing is left to run.
    if (a_result) {
      if (m_top > 0)
        *a_result = m_stack[m_top - 1];
      else
        a_result->SetNull();
    }
    machine->SwitchThreadState(this, KILLED);
    return KILLED;
  }

  if (machine->debugMode && debugFlag && machine->debugThreadStart && machine->debugThreadStart(this)) return RUNNING;

  m_executing = 1;

  const gmuint8* ip;
  const gmuint8* code;
  gmVariable* base;
  gmVariable* top;
  gmObject* const* refs;
  const gmExecOp* xops;
  gmuint op = 0;
  gmuint operand = 0;
  int callResult = CALL_OK;
  int opStatus = GM_OPERATOR_OK;
  // Whether `line` calls the line hook; read again after every call, the only place a
  // native could have changed it.
  bool lineHook = false;
  // Whether calls and returns must go through the debug hooks (and so the slow path).
  bool callHooks = false;
  gmTableObject* const globals = machine->GetGlobals();
  gmStringObject* storeName = nullptr;

#define SAVE()                                 \
  do {                                         \
    m_instruction = ip;                        \
    m_top = static_cast<int>(top - m_stack);   \
    m_base = static_cast<int>(base - m_stack); \
  } while (0)

#define LOAD()                                                                                                         \
  do {                                                                                                                 \
    base = m_stack + m_base;                                                                                           \
    top = m_stack + m_top;                                                                                             \
    ip = m_instruction;                                                                                                \
    {                                                                                                                  \
      gmFunctionObject* current_ = base[-1].GetFunctionObject();                                                       \
      code = current_->execCode;                                                                                       \
      refs = current_->references;                                                                                     \
      xops = current_->execOps;                                                                                        \
    }                                                                                                                  \
    lineHook = machine->debugMode && machine->debugLine != nullptr;                                                    \
    callHooks = machine->debugMode && debugFlag && (machine->debugCall != nullptr || machine->debugReturn != nullptr); \
  } while (0)

#define READ_OPERAND()      \
  do {                      \
    operand = ReadWord(ip); \
    ip += 4;                \
  } while (0)

#define FAIL_WITH(...)                       \
  do {                                       \
    SAVE();                                  \
    machine->GetLog().LogEntry(__VA_ARGS__); \
    goto fail;                               \
  } while (0)

  LOAD();
  if (!ip) ip = code;

    // The working copy holds only instructions and combined instructions (gmExecCode.h).
#if GM_COMPUTED_GOTO
  static const void* const s_labels[GM_EX_COUNT] = {
#define GM_BC_LABEL(e, name, hasOperand, effect) &&L_##e,
      GM_BYTECODES(GM_BC_LABEL)
#undef GM_BC_LABEL
#define GM_EX_BINARY_LABEL(form, op, sink) &&L_EX_##form##_##op##_##sink,
          GM_EXEC_BINARY(GM_EX_BINARY_LABEL)
#undef GM_EX_BINARY_LABEL
#define GM_EX_OTHER_LABEL(e, skip) &&L_EX_##e,
              GM_EXEC_OTHERS(GM_EX_OTHER_LABEL)
#undef GM_EX_OTHER_LABEL
#define GM_EX_BINARY_LABEL(form, op, sink) &&L_EXL_##form##_##op##_##sink,
                  GM_EXEC_BINARY(GM_EX_BINARY_LABEL)
#undef GM_EX_BINARY_LABEL
#define GM_EX_OTHER_LABEL(e, skip) &&L_EXL_##e,
                      GM_EXEC_OTHERS(GM_EX_OTHER_LABEL)
#undef GM_EX_OTHER_LABEL
#define GM_EX_BINARY_LABEL(form, op, sink) &&L_EXJ_##form##_##op##_##sink,
                          GM_EXEC_BINARY(GM_EX_BINARY_LABEL)
#undef GM_EX_BINARY_LABEL
#define GM_EX_OTHER_LABEL(e, skip) &&L_EXJ_##e,
                              GM_EXEC_OTHERS(GM_EX_OTHER_LABEL)
#undef GM_EX_OTHER_LABEL
#define GM_BC_LABEL(e, name, hasOperand, effect) &&L_LP_##e,
                                  GM_BYTECODES(GM_BC_LABEL)
#undef GM_BC_LABEL
  };
#define CASE(e) L_##e:
#define EXCASE(e) L_EX_##e:
#define EXLCASE(e) L_EXL_##e:
#define EXJCASE(e) L_EXJ_##e:
#define LPCASE(e) L_LP_##e:
#define EXGOTO(e) goto L_EX_##e
#define PLAINGOTO(e) \
  op = BC_##e;       \
  goto L_##e
#define LINE_GOTO() goto L_LINE
#define DISPATCH_OP() goto* s_labels[op]
#define NEXT()                                 \
  do {                                         \
    op = ReadWord(ip);                         \
    ip += 4;                                   \
    goto* s_labels[op & GM_EXEC_HANDLER_MASK]; \
  } while (0)
  NEXT();
#else
#define CASE(e) case BC_##e:
#define EXCASE(e) case GM_EX_##e:
#define EXLCASE(e) case GM_EX_##e + GM_EX_LINE_OFFSET:
#define EXJCASE(e) case GM_EX_##e + GM_EX_JUMP_OFFSET:
#define LPCASE(e) case GM_EX_LINE_PLAIN_FIRST + BC_##e:
#define EXGOTO(e)                                                     \
  op = (op & ~GM_EXEC_HANDLER_MASK) | static_cast<gmuint>(GM_EX_##e); \
  goto dispatch_op
#define PLAINGOTO(e) \
  op = BC_##e;       \
  goto dispatch_op
#define LINE_GOTO() \
  op = BC_LINE;     \
  goto dispatch_op
#define DISPATCH_OP() goto dispatch_op
#define NEXT() goto dispatch
dispatch:
  op = ReadWord(ip);
  ip += 4;
dispatch_op:
  switch (op & GM_EXEC_HANDLER_MASK) {
    default:
      goto unknown_opcode;
#endif

  // ---- Members and elements -------------------------------------------------------------

  CASE(GETDOT) {
    READ_OPERAND();
    gmVariable* obj = top - 1;
    if (obj->type == GM_TABLE) {
      ReadTableMember(machine, *obj, static_cast<gmStringObject*>(refs[operand]), obj);
      NEXT();
    }
    goto get_member;
  }

  CASE(GETTHIS) {
    READ_OPERAND();
    if (base[-2].type == GM_NULL) FAIL_WITH("getthis failed. this is null");
    *top++ = base[-2];
    if (top[-1].type == GM_TABLE) {
      ReadTableMember(machine, top[-1], static_cast<gmStringObject*>(refs[operand]), top - 1);
      NEXT();
    }
    goto get_member;
  }

  // Member read of top-1 through its type: native getdot, then the type's variables.
get_member : {
  gmVariable* obj = top - 1;
  gmStringObject* name = static_cast<gmStringObject*>(refs[operand]);
  const gmVariable object = *obj;
  if (gmOperatorFunction getdot = machine->GetTypeNativeOperator(object.type, O_GETDOT)) {
    top->SetString(name);
    SAVE();
    opStatus = getdot(machine, this, obj);
    if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
    if (obj->type != GM_NULL) NEXT();
  }
  if (object.type == GM_NULL) FAIL_WITH("getdot failed. (null has no member '%s')", name->GetString());
  *obj = machine->GetTypeVariables(object.type)->Get(gmVariable(name));
  NEXT();
}

  CASE(SETDOT) {
    READ_OPERAND();
    gmStringObject* name = static_cast<gmStringObject*>(refs[operand]);
    gmVariable* obj = top - 2;
    if (obj->type == GM_TABLE) {
      StoreTableMember(machine, obj->GetTableObject(), name, obj[1]);
      top -= 2;
      NEXT();
    }
    gmOperatorFunction setdot = machine->GetTypeNativeOperator(obj->type, O_SETDOT);
    if (!setdot)
      FAIL_WITH("setdot failed. (%s has no member '%s' to set)", machine->TypeName(obj->type), name->GetString());
    top->SetString(name);
    SAVE();
    opStatus = setdot(machine, this, obj);
    if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
    top -= 2;
    NEXT();
  }

  CASE(SETTHIS) {
    READ_OPERAND();
    gmStringObject* name = static_cast<gmStringObject*>(refs[operand]);
    // this, value, name above the popped value's slot: the operator's layout.
    gmVariable value = top[-1];
    gmVariable* obj = top - 1;
    obj[0] = base[-2];
    if (obj->type == GM_TABLE) {
      StoreTableMember(machine, obj->GetTableObject(), name, value);
      --top;
      NEXT();
    }
    gmOperatorFunction setdot = machine->GetTypeNativeOperator(obj->type, O_SETDOT);
    if (!setdot) FAIL_WITH("setthis failed.");
    obj[1] = value;
    obj[2].SetString(name);
    SAVE();
    opStatus = setdot(machine, this, obj);
    if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
    --top;
    NEXT();
  }

  CASE(GETIND) {
    gmVariable* a = top - 2;
    if (a->type == GM_TABLE && a[1].type <= GM_TABLE) {
      *a = ReadElement(a->GetTableObject(), a[1]);
      --top;
      NEXT();
    }
    goto binary_operator;
  }

  CASE(SETIND) {
    gmVariable* obj = top - 3;
    if (obj->type == GM_TABLE) {
      StoreTableElement(machine, obj->GetTableObject(), obj[1], obj[2]);
      top -= 3;
      NEXT();
    }
    if (gmOperatorFunction setind = machine->GetTypeNativeOperator(obj->type, O_SETIND)) {
      SAVE();
      opStatus = setind(machine, this, obj);
      if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
      top -= 3;
      NEXT();
    }
    if (gmFunctionObject* function = machine->GetTypeOperator(obj->type, O_SETIND)) {
      // null, operator, object, index, value: the result lands on the object's slot and is
      // dropped, as the statement leaves nothing.
      top[1] = obj[2];
      top[0] = obj[1];
      top[-1] = obj[0];
      obj[1].SetFunction(function);
      obj[0].SetNull();
      top += 2;
      SAVE();
      callResult = PushCallFrom(3, ip);
      if (callResult == CALL_OK) {
        if (function->nativeFunction)
          --m_top;
        else
          m_frame->popResult = true;
      }
      goto call_done;
    }
    FAIL_WITH("setind failed.");
  }

  // ---- Binary operators ---------------------------------------------------------------

#define INT_FAST(e, EXPR)                                    \
  CASE(e) {                                                  \
    gmVariable* a = top - 2;                                 \
    if (a->type == GM_INT && a[1].type == GM_INT) {          \
      const gmuint x = a->Payload32(), y = a[1].Payload32(); \
      (void)x;                                               \
      (void)y;                                               \
      a->SetIntPayload(static_cast<gmint>(EXPR));            \
      --top;                                                 \
      NEXT();                                                \
    }                                                        \
    goto binary_operator;                                    \
  }

// The number (and identity) fast paths shared with the combined instructions.
#define FAST_BINARY(e)                                            \
  CASE(e) {                                                       \
    gmVariable* a = top - 2;                                      \
    gmVariable r;                                                 \
    if (!FastBinary<BC_##e>(a[0], a[1], r)) goto binary_operator; \
    a[0] = r;                                                     \
    --top;                                                        \
    NEXT();                                                       \
  }

#define SX static_cast<gmint>(x)

  FAST_BINARY(ADD)
  FAST_BINARY(SUB)
  FAST_BINARY(MUL)
  FAST_BINARY(DIV)
  FAST_BINARY(MOD)
  FAST_BINARY(LT)
  FAST_BINARY(GT)
  FAST_BINARY(LTE)
  FAST_BINARY(GTE)
  FAST_BINARY(EQ)
  FAST_BINARY(NEQ)
  INT_FAST(BITOR, x | y)
  INT_FAST(BITXOR, x ^ y)
  INT_FAST(BITAND, x & y)
  INT_FAST(SHIFTLEFT, x << (y & 31))
  INT_FAST(SHIFTRIGHT, SX >> (y & 31))

  // Operator of the operand with the higher type id, native then script.
binary_operator : {
  gmVariable* a = top - 2;
  const int type = a->type > a[1].type ? a->type : a[1].type;
  if (gmOperatorFunction native = machine->GetTypeNativeOperator(type, static_cast<int>(op))) {
    SAVE();
    opStatus = native(machine, this, a);
    if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
    --top;
    NEXT();
  }
  if (gmFunctionObject* function = machine->GetTypeOperator(type, static_cast<int>(op))) {
    // null, operator, left, right: the result replaces the left operand.
    top[1] = a[1];
    top[0] = a[0];
    a[1].SetFunction(function);
    a[0].SetNull();
    top += 2;
    SAVE();
    callResult = PushCallFrom(2, ip);
    goto call_done;
  }
  FAIL_WITH("operator %s undefined for type %s and %s", gmGetOperatorName(static_cast<int>(op)),
            machine->TypeName(a->type), machine->TypeName(a[1].type));
}

  // ---- Unary operators ----------------------------------------------------------------

  CASE(NEG) {
    gmVariable* a = top - 1;
    if (a->type == GM_INT) {
      a->SetIntPayload(static_cast<gmint>(0u - a->Payload32()));
      NEXT();
    }
    if (a->type == GM_FLOAT) {
      a->SetFloat(-a->GetFloat());
      NEXT();
    }
    goto unary_operator;
  }

  CASE(POS) {
    if (top[-1].type == GM_INT || top[-1].type == GM_FLOAT) NEXT();
    goto unary_operator;
  }

  CASE(NOT) {
    gmVariable* a = top - 1;
    if (a->type == GM_INT) {
      a->SetIntPayload(a->Payload32() == 0);
      NEXT();
    }
    if (a->type == GM_FLOAT) {
      a->SetInt(a->GetFloat() == 0.0f);
      NEXT();
    }
    goto unary_operator;
  }

  CASE(BITINV) {
    gmVariable* a = top - 1;
    if (a->type == GM_INT) {
      a->SetIntPayload(static_cast<gmint>(~a->Payload32()));
      NEXT();
    }
    goto unary_operator;
  }

unary_operator : {
  gmVariable* a = top - 1;
  const int type = a->type;
  if (gmOperatorFunction native = machine->GetTypeNativeOperator(type, static_cast<int>(op))) {
    SAVE();
    opStatus = native(machine, this, a);
    if (opStatus != GM_OPERATOR_OK) goto operator_failed_status;
    NEXT();
  }
  if (gmFunctionObject* function = machine->GetTypeOperator(type, static_cast<int>(op))) {
    top[1] = a[0];
    a[1].SetFunction(function);
    a[0].SetNull();
    top += 2;
    SAVE();
    callResult = PushCallFrom(1, ip);
    goto call_done;
  }
  FAIL_WITH("unary operator %s undefined for type %s", gmGetOperatorName(static_cast<int>(op)),
            machine->TypeName(type));
}

  // ---- Control flow -------------------------------------------------------------------

  CASE(NOP) { NEXT(); }

  CASE(LINE) {
    if (lineHook) {
      SAVE();
      if (machine->debugLine(this)) {
        m_executing = 0;
        return m_state;
      }
    }
    NEXT();
  }

  CASE(JUMP) {
    ip = code + ReadWord(ip);
    NEXT();
  }

  // The truth test: false exactly when the payload is zero. A user type decides through
  // its bool operator first.

  CASE(JUMPZERO) {
    if (top[-1].type > GM_USER) goto user_bool;
    const bool truth = top[-1].IsTrue();
    --top;
    if (!truth)
      ip = code + ReadWord(ip);
    else
      ip += 4;
    NEXT();
  }

  CASE(JUMPNOTZERO) {
    if (top[-1].type > GM_USER) goto user_bool;
    const bool truth = top[-1].IsTrue();
    --top;
    if (truth)
      ip = code + ReadWord(ip);
    else
      ip += 4;
    NEXT();
  }

  CASE(JUMPZEROKEEP) {
    if (top[-1].type > GM_USER) goto user_bool;
    if (!top[-1].IsTrue())
      ip = code + ReadWord(ip);
    else
      ip += 4;
    NEXT();
  }

  CASE(JUMPNOTZEROKEEP) {
    if (top[-1].type > GM_USER) goto user_bool;
    if (top[-1].IsTrue())
      ip = code + ReadWord(ip);
    else
      ip += 4;
    NEXT();
  }

  // top-1 is of a user type and a conditional jump (at ip-4) wants its truth.
user_bool : {
  gmVariable* a = top - 1;
  const int type = a->type;
  ip -= 4;  // the jump runs again on the operator's result
  if (gmOperatorFunction native = machine->GetTypeNativeOperator(type, O_BOOL)) {
    SAVE();
    opStatus = native(machine, this, a);
    if (opStatus != GM_OPERATOR_OK) {
      ip += 4;
      goto operator_failed_status;
    }
    if (a->type > GM_USER) {
      // A bool operator that answers with a user value again: take that value's payload.
      a->SetInt(a->IsTrue() ? 1 : 0);
    }
    NEXT();
  }
  if (gmFunctionObject* function = machine->GetTypeOperator(type, O_BOOL)) {
    top[1] = a[0];
    a[1].SetFunction(function);
    a[0].SetNull();
    top += 2;
    SAVE();
    callResult = PushCallFrom(1, ip);
    if (callResult == CALL_OK) m_frame->boolAnswer = true;
    goto call_done;
  }
  // No bool operator: the plain truth test.
  const bool truth = a->IsTrue();
  const gmuint jump = op;
  ip += 4;
  const gmuint target = ReadWord(ip);
  ip += 4;
  if (jump == BC_JUMPZERO || jump == BC_JUMPNOTZERO) --top;
  if ((jump == BC_JUMPZERO || jump == BC_JUMPZEROKEEP) ? !truth : truth) ip = code + target;
  NEXT();
}

  CASE(CALL) {
    READ_OPERAND();
    {
      // A script function with room to spare is entered right here, without going through
      // the thread's fields; everything else takes PushCall.
      const int numArgs = static_cast<int>(operand);
      gmVariable* const newBase = top - numArgs;
      if (newBase[-1].type == GM_FUNCTION && !callHooks) {
        gmFunctionObject* const function = newBase[-1].GetFunctionObject();
        const int frameSlots = function->numParamsLocals;
        if (!function->nativeFunction && function->execCode &&
            frameSlots - numArgs + function->maxStackSize + static_cast<int>(top - m_stack) + STACK_MARGIN < m_size) {
          gmVariable* const firstNull = numArgs <= function->numParams ? top : newBase + function->numParams;
          gmVariable* const newTop = newBase + frameSlots;
          for (gmVariable* slot = firstNull; slot < newTop; ++slot) slot->SetNull();
          gmStackFrame* frame = machine->AllocFrame();
          frame->prev = m_frame;
          frame->returnAddress = ip;
          frame->returnBase = static_cast<int>(base - m_stack);
          frame->popResult = false;
          frame->boolAnswer = false;
          m_frame = frame;
          base = newBase;
          top = newTop;
          code = function->execCode;
          refs = function->references;
          xops = function->execOps;
          ip = code;
          NEXT();
        }
      }
    }
    SAVE();
    callResult = PushCallFrom(static_cast<int>(operand), ip);
    goto call_done;
  }

  // Every call, operator call included, ends here with the thread's fields saved.
call_done:
  if (m_killPending) goto killed_elsewhere;
  switch (callResult) {
    case CALL_OK:
      LOAD();
      if (machine->debugMode && debugFlag && machine->debugCall && machine->debugCall(this)) {
        m_executing = 0;
        return m_state;
      }
      NEXT();
    case CALL_YIELDED:
      m_executing = 0;
      return RUNNING;
    case CALL_FAILED:
      ip = m_instruction;
      base = m_stack + m_base;
      goto fail;
    case KILLED:
      if (a_result) *a_result = m_stack[m_top - 1];
      m_executing = 0;
      machine->SwitchThreadState(this, KILLED);
      return KILLED;
    default:
      m_executing = 0;
      return callResult;
  }

  CASE(RETURN) {
    top->SetNull();
    ++top;
    goto return_value;
  }

  CASE(RETURNVALUE) {
  return_value:
    if (m_frame->prev && !callHooks) {
      // Back into the caller's function, as PopCall does.
      gmStackFrame* const frame = m_frame;
      base[-2] = top[-1];
      top = base - (frame->popResult ? 2 : 1);
      if (__builtin_expect(frame->boolAnswer, 0) && base[-2].type > GM_USER) base[-2].SetInt(base[-2].IsTrue() ? 1 : 0);
      base = m_stack + frame->returnBase;
      ip = frame->returnAddress;
      m_frame = frame->prev;
      machine->FreeFrame(frame);
      gmFunctionObject* const caller = base[-1].GetFunctionObject();
      code = caller->execCode;
      refs = caller->references;
      xops = caller->execOps;
      NEXT();
    }
    SAVE();
    int result = PopCall();
    if (result == CALL_OK) {
      LOAD();
      if (machine->debugMode && debugFlag && machine->debugReturn && machine->debugReturn(this)) {
        m_executing = 0;
        return m_state;
      }
      NEXT();
    }
    if (result == KILLED) {
      if (a_result) *a_result = m_stack[m_top - 1];
      m_executing = 0;
      machine->SwitchThreadState(this, KILLED);
      return KILLED;
    }
    goto fail;
  }

  CASE(FOREACH) {
    READ_OPERAND();
    gmVariable* table = top - 2;
    if (table->type != GM_TABLE) FAIL_WITH("foreach expression is not table type");
    gmint cursor = top[-1].GetInt();
    gmTableNode* node = table->GetTableObject()->Next(cursor);
    top[-1].SetIntPayload(cursor);
    if (node) {
      base[operand >> 16] = node->key;
      base[operand & 0xFFFF] = node->value;
      top->SetInt(1);
    } else {
      top->SetInt(0);
    }
    ++top;
    NEXT();
  }

  // ---- Stack ----------------------------------------------------------------------------

  CASE(POP) {
    --top;
    NEXT();
  }
  CASE(POP2) {
    top -= 2;
    NEXT();
  }
  CASE(DUP) {
    top[0] = top[-1];
    ++top;
    NEXT();
  }
  CASE(DUP2) {
    top[0] = top[-2];
    top[1] = top[-1];
    top += 2;
    NEXT();
  }
  CASE(SWAP) {
    gmVariable t = top[-1];
    top[-1] = top[-2];
    top[-2] = t;
    NEXT();
  }
  CASE(PUSHNULL) {
    (top++)->SetNull();
    NEXT();
  }
  CASE(PUSHINT) {
    (top++)->SetInt(static_cast<gmint>(ReadWord(ip)));
    ip += 4;
    NEXT();
  }
  CASE(PUSHINT0) {
    (top++)->SetInt(0);
    NEXT();
  }
  CASE(PUSHINT1) {
    (top++)->SetInt(1);
    NEXT();
  }
  CASE(PUSHFLOAT) {
    gmfloat f;
    std::memcpy(&f, ip, sizeof(f));
    ip += 4;
    (top++)->SetFloat(f);
    NEXT();
  }
  CASE(PUSHSTRING) {
    READ_OPERAND();
    (top++)->SetString(static_cast<gmStringObject*>(refs[operand]));
    NEXT();
  }
  CASE(PUSHTABLE) {
#ifdef GM_GC_STRESS
    // Only the collector stress build collects inside an allocation: the operands pushed
    // so far must be on the stack it marks.
    SAVE();
#endif
    (top++)->SetTable(machine->MakeTable());
    NEXT();
  }
  CASE(PUSHFUNCTION) {
    READ_OPERAND();
    (top++)->SetFunction(static_cast<gmFunctionObject*>(refs[operand]));
    NEXT();
  }
  CASE(PUSHTHIS) {
    *top++ = base[-2];
    NEXT();
  }
  CASE(GETLOCAL) {
    READ_OPERAND();
    *top++ = base[operand];
    NEXT();
  }
  CASE(SETLOCAL) {
    READ_OPERAND();
    base[operand] = *--top;
    NEXT();
  }
  CASE(GETGLOBAL) {
    READ_OPERAND();
    *top++ = ReadGlobal(globals, static_cast<gmStringObject*>(refs[operand]));
    NEXT();
  }
  CASE(SETGLOBAL) {
    READ_OPERAND();
    --top;
    globals->Set(machine, gmVariable(static_cast<gmStringObject*>(refs[operand])), *top);
    NEXT();
  }

  // ---- Combined instructions (gmExecCode.h) ----------------------------------------------
  //
  // Each either finishes its whole sequence or, before changing anything, hands over to the
  // sequence's first instruction (exec_fallback). The length stepped over is the handler's
  // own constant (see gmExecCode.h for why).

#define XOP()                                           \
  const gmExecOp& x = xops[op >> GM_EXEC_HANDLER_BITS]; \
  (void)x
#define X_LL_A base[x.a]
#define X_LL_B base[x.b]
#define X_LL_OUT top
#define X_LK1_A base[x.a]
#define X_LK1_B x.k
#define X_LK1_OUT top
#define X_SK1_A top[-1]
#define X_SK1_B x.k
#define X_SK1_OUT (top - 1)
#define X_LK_A base[x.a]
#define X_LK_B x.k
#define X_LK_OUT top
#define X_SL_A top[-1]
#define X_SL_B base[x.b]
#define X_SL_OUT (top - 1)
#define X_SK_A top[-1]
#define X_SK_B x.k
#define X_SK_OUT (top - 1)
#define X_SS_A top[-2]
#define X_SS_B top[-1]
#define X_SS_OUT (top - 2)
#define X_SINK_PUSH(skip) \
  *out = r;               \
  top = out + 1;          \
  ip += skip;
#define X_SINK_SET(skip) \
  base[x.c] = r;         \
  top = out;             \
  ip += skip;
#define X_SINK_JZ(skip) \
  top = out;            \
  if (r.IsTrue())       \
    ip += skip;         \
  else                  \
    ip = code + x.c;
#define X_SINK_JNZ(skip) \
  top = out;             \
  if (r.IsTrue())        \
    ip = code + x.c;     \
  else                   \
    ip += skip;
// The object sits just below the operands, so below the result's slot.
// The store itself is shared (member_store): one copy of it instead of one per handler
// keeps the loop small enough for its hot locals to stay in registers.
#define X_SINK_SETDOT(skip)                         \
  if (out[-1].type != GM_TABLE) goto exec_fallback; \
  *out = r;                                         \
  top = out + 1;                                    \
  ip += skip;                                       \
  storeName = x.name;                               \
  goto member_store;
#define X_BINARY(form, opname, sink)                                                 \
  EXCASE(form##_##opname##_##sink) {                                                 \
    XOP();                                                                           \
    gmVariable r;                                                                    \
    if (!FastBinary<BC_##opname>(X_##form##_A, X_##form##_B, r)) goto exec_fallback; \
    gmVariable* const out = X_##form##_OUT;                                          \
    X_SINK_##sink(GM_EXEC_SKIP_##form + GM_EXEC_SKIP_##sink) NEXT();                 \
  }
  GM_EXEC_BINARY(X_BINARY)

  // Object (a table) and value on top; the value is stored as setdot stores it.
member_store:
  StoreTableMember(machine, top[-2].GetTableObject(), storeName, top[-1]);
  top -= 2;
  NEXT();

  // Member reads of a table: a local, this, the value below, a global.
#define X_MEMBER_READ(handler, OBJECT)               \
  EXCASE(handler) {                                  \
    XOP();                                           \
    const gmVariable& object = OBJECT;               \
    if (object.type != GM_TABLE) goto exec_fallback; \
    ReadTableMember(machine, object, x.name, top++); \
    ip += GM_EX_SKIP_##handler;                      \
    NEXT();                                          \
  }
  X_MEMBER_READ(LDOT, base[x.a])
  X_MEMBER_READ(TDOT, base[-2])
  X_MEMBER_READ(DDOT, top[-1])
  X_MEMBER_READ(GDOT, ReadGlobal(globals, x.k.GetStringObject()))

  // An object and its member: `a.f(` and `this.f(` before the arguments.
#define X_METHOD_READ(handler, OBJECT)                 \
  EXCASE(handler) {                                    \
    XOP();                                             \
    const gmVariable& object = OBJECT;                 \
    if (object.type != GM_TABLE) goto exec_fallback;   \
    top[0] = object;                                   \
    ReadTableMember(machine, top[0], x.name, top + 1); \
    top += 2;                                          \
    ip += GM_EX_SKIP_##handler;                        \
    NEXT();                                            \
  }
  X_METHOD_READ(LDDOT, base[x.a])
  X_METHOD_READ(TDDOT, base[-2])
  // `this.x = this.x ...`: the object of the store, then the member read.
  X_METHOD_READ(TTDOT, base[-2])

  // The cursor advances exactly as foreach advances it; the flag foreach would push for the
  // jump is never made.
  EXCASE(FOREACH_JZ) {
    XOP();
    if (top[-2].type != GM_TABLE) goto exec_fallback;
    gmint cursor = top[-1].GetInt();
    const gmTableNode* node = top[-2].GetTableObject()->Next(cursor);
    top[-1].SetIntPayload(cursor);
    if (node) {
      base[x.a] = node->key;
      base[x.b] = node->value;
      ip += GM_EX_SKIP_FOREACH_JZ;
    } else {
      ip = code + x.c;
    }
    NEXT();
  }

  EXCASE(MOVE) {
    XOP();
    base[x.c] = base[x.a];
    ip += GM_EX_SKIP_MOVE;
    NEXT();
  }

  EXCASE(K1SET) {
    XOP();
    base[x.c] = x.k;
    ip += GM_EX_SKIP_K1SET;
    NEXT();
  }

  EXCASE(KSET) {
    XOP();
    base[x.c] = x.k;
    ip += GM_EX_SKIP_KSET;
    NEXT();
  }

  EXCASE(LL_GETIND) {
    XOP();
    const gmVariable& object = base[x.a];
    const gmVariable& index = base[x.b];
    if (object.type != GM_TABLE || index.type > GM_TABLE) goto exec_fallback;
    *top = ReadElement(object.GetTableObject(), index);
    ++top;
    ip += GM_EX_SKIP_LL_GETIND;
    NEXT();
  }

  EXCASE(SL_GETIND) {
    XOP();
    const gmVariable& index = base[x.b];
    if (top[-1].type != GM_TABLE || index.type > GM_TABLE) goto exec_fallback;
    top[-1] = ReadElement(top[-1].GetTableObject(), index);
    ip += GM_EX_SKIP_SL_GETIND;
    NEXT();
  }

  // Member stores: the object, then the value, stored as setdot stores it.
#define X_MEMBER_STORE(handler, OBJECT, VALUE)                         \
  EXCASE(handler) {                                                    \
    XOP();                                                             \
    const gmVariable& object = OBJECT;                                 \
    if (object.type != GM_TABLE) goto exec_fallback;                   \
    StoreTableMember(machine, object.GetTableObject(), x.name, VALUE); \
    ip += GM_EX_SKIP_##handler;                                        \
    NEXT();                                                            \
  }
  X_MEMBER_STORE(LL_SETDOT, base[x.a], base[x.b])
  X_MEMBER_STORE(LK1_SETDOT, base[x.a], x.k)
  X_MEMBER_STORE(LK_SETDOT, base[x.a], x.k)
  X_MEMBER_STORE(DL_SETDOT, top[-1], base[x.b])
  X_MEMBER_STORE(DK1_SETDOT, top[-1], x.k)
  X_MEMBER_STORE(DK_SETDOT, top[-1], x.k)

  EXCASE(NG) {
    XOP();
    top[0].SetNull();
    top[1] = ReadGlobal(globals, x.name);
    top += 2;
    ip += GM_EX_SKIP_NG;
    NEXT();
  }

  EXCASE(LRET) {
    XOP();
    *top++ = base[x.a];
    ip += GM_EX_SKIP_LRET;
    PLAINGOTO(RETURNVALUE);
  }

  EXCASE(LL) {
    XOP();
    top[0] = base[x.a];
    top[1] = base[x.b];
    top += 2;
    ip += GM_EX_SKIP_LL;
    NEXT();
  }

  // Line variants: with a line hook, the `line` they stand on; otherwise the combined
  // instruction after it, whose record they share.
#define X_LINE_VARIANT(name)   \
  EXLCASE(name) {              \
    if (lineHook) LINE_GOTO(); \
    ip += 4;                   \
    EXGOTO(name);              \
  }
#define X_LINE_BINARY(form, opname, sink) X_LINE_VARIANT(form##_##opname##_##sink)
#define X_LINE_OTHER(e, skip) X_LINE_VARIANT(e)
  GM_EXEC_BINARY(X_LINE_BINARY)
  GM_EXEC_OTHERS(X_LINE_OTHER)

#define X_LINE_PLAIN(e, name, hasOperand, effect) \
  LPCASE(e) {                                     \
    if (lineHook) LINE_GOTO();                    \
    ip += 4;                                      \
    PLAINGOTO(e);                                 \
  }
  GM_BYTECODES(X_LINE_PLAIN)

  // Jump variants: the jump, then the target's combined instruction with its record.
#define X_JUMP_VARIANT(name)      \
  EXJCASE(name) {                 \
    ip = code + ReadWord(ip) + 4; \
    EXGOTO(name);                 \
  }
#define X_JUMP_BINARY(form, opname, sink) X_JUMP_VARIANT(form##_##opname##_##sink)
#define X_JUMP_OTHER(e, skip) X_JUMP_VARIANT(e)
  GM_EXEC_BINARY(X_JUMP_BINARY)
  GM_EXEC_OTHERS(X_JUMP_OTHER)

  // The sequence's first instruction, done the ordinary way; ip is just past its opcode
  // word, where that instruction expects it.
exec_fallback:
  op = xops[op >> GM_EXEC_HANDLER_BITS].first;
  DISPATCH_OP();

#if !GM_COMPUTED_GOTO
}
#endif

#if !GM_COMPUTED_GOTO
unknown_opcode : NEXT();
#endif

// A native operator refused (integer division by zero, say): its message, if the status
// has one, then the usual failure.
operator_failed_status : if (const char* text = gmOperatorStatusText(opStatus)) machine->GetLog().LogEntry("%s", text);
goto fail;

killed_elsewhere : m_executing = 0;
machine->SwitchThreadState(this, KILLED);
return KILLED;

fail : m_executing = 0;
return Fail(m_instruction);

#undef SAVE
#undef LOAD
#undef READ_OPERAND
#undef FAIL_WITH
#undef CASE
#undef EXCASE
#undef EXLCASE
#undef EXGOTO
#undef EXJCASE
#undef LPCASE
#undef PLAINGOTO
#undef LINE_GOTO
#undef NEXT
#undef DISPATCH_OP
#undef INT_FAST
#undef FAST_BINARY
#undef SX
}
