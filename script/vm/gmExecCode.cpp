#include "script/vm/gmExecCode.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"

namespace {

bool g_combining = true;

// Records are indexed by the bits above the handler number.
const uint32_t kMaxRecords = 1u << (32 - GM_EXEC_HANDLER_BITS);

struct Instruction {
  int at;       // byte offset
  uint32_t op;  // opcode, or BC_COUNT for a word that is no instruction
  uint32_t operand;
  bool hasOperand;
};

int OperatorIndex(uint32_t a_op) {
  switch (a_op) {
    case BC_ADD:
      return 0;
    case BC_SUB:
      return 1;
    case BC_MUL:
      return 2;
    case BC_DIV:
      return 3;
    case BC_MOD:
      return 4;
    case BC_LT:
      return 5;
    case BC_GT:
      return 6;
    case BC_LTE:
      return 7;
    case BC_GTE:
      return 8;
    case BC_EQ:
      return 9;
    case BC_NEQ:
      return 10;
    default:
      return -1;
  }
}

const int kOtherSkips[] = {
#define GM_EX_OTHER_SKIP(e, skip) skip,
    GM_EXEC_OTHERS(GM_EX_OTHER_SKIP)
#undef GM_EX_OTHER_SKIP
};
const int kFormSkips[GM_FORM_COUNT] = {GM_EXEC_SKIP_LL, GM_EXEC_SKIP_LK,  GM_EXEC_SKIP_LK1, GM_EXEC_SKIP_SL,
                                       GM_EXEC_SKIP_SK, GM_EXEC_SKIP_SK1, GM_EXEC_SKIP_SS};

uint32_t BinaryHandler(int a_form, int a_operator, int a_sink) {
  return GM_EX_BINARY_FIRST +
         static_cast<uint32_t>((a_form * GM_EXEC_OPERATOR_COUNT + a_operator) * GM_SINK_COUNT + a_sink);
}

class Builder {
 public:
  explicit Builder(gmFunctionObject* a_function) : m_function(a_function) {}

  void Build() {
    const gmuint8* code = m_function->byteCode;
    const int length = m_function->byteCodeLength;
    for (int at = 0; at + 4 <= length;) {
      Instruction ins{at, Word(code + at), 0, false};
      if (ins.op >= BC_COUNT) {
        ins.op = BC_COUNT;
      } else if (gmByteCodeTable[ins.op].hasOperand) {
        if (at + 8 > length) break;  // a cut operand: the interpreter never gets that far
        ins.operand = Word(code + at + 4);
        ins.hasOperand = true;
      }
      m_instructions.push_back(ins);
      at += ins.hasOperand ? 8 : 4;
    }
    m_indexAt.assign(static_cast<size_t>(length / 4) + 1, -1);
    for (size_t i = 0; i < m_instructions.size(); ++i) {
      if (m_instructions[i].op != BC_COUNT)
        m_indexAt[static_cast<size_t>(m_instructions[i].at / 4)] = static_cast<int>(i);
    }

    m_exec = static_cast<gmuint8*>(std::malloc(length > 0 ? static_cast<size_t>(length) : 1));
    std::memcpy(m_exec, code, static_cast<size_t>(length));
    for (size_t i = 0; i < m_instructions.size(); ++i) {
      if (m_instructions[i].op == BC_COUNT) {
        // Not an instruction: the interpreter steps over such a word, as over a nop.
        PutWord(m_instructions[i].at, BC_NOP);
        continue;
      }
      if (!g_combining || m_records.size() + 1 >= kMaxRecords) continue;
      Combine(i);
    }

    if (g_combining) {
      // Jumps first: a jump whose target is a `line` is left as it is, and the `line` then
      // turns into a variant.
      for (const Instruction& ins : m_instructions) {
        if (ins.op != BC_JUMP || ins.operand % 4 != 0 || ins.operand >= static_cast<uint32_t>(length)) continue;
        const int target = m_indexAt[ins.operand / 4];
        if (target < 0) continue;
        const uint32_t word = Word(m_exec + ins.operand);
        const uint32_t handler = word & GM_EXEC_HANDLER_MASK;
        if (handler >= BC_COUNT && handler < GM_EX_COMBINED_END) PutWord(ins.at, word + GM_EX_JUMP_OFFSET);
      }
      for (size_t i = 0; i + 1 < m_instructions.size(); ++i) {
        if (m_instructions[i].op != BC_LINE) continue;
        const uint32_t next = Word(m_exec + m_instructions[i + 1].at);
        const uint32_t handler = next & GM_EXEC_HANDLER_MASK;
        if (handler >= BC_COUNT && handler < GM_EX_COMBINED_END)
          PutWord(m_instructions[i].at, next + GM_EX_LINE_OFFSET);
        else if (handler < BC_COUNT && handler != BC_LINE)
          PutWord(m_instructions[i].at, GM_EX_LINE_PLAIN_FIRST + handler);
      }
    }

    m_function->execCode = m_exec;
    m_function->execOps = nullptr;
    if (!m_records.empty()) {
      m_function->execOps = static_cast<gmExecOp*>(std::malloc(sizeof(gmExecOp) * m_records.size()));
      // gmVariable's copy leaves the chain link alone for table nodes' sake; into fresh
      // memory a byte copy is the copy wanted.
      // NOLINTNEXTLINE(bugprone-undefined-memory-manipulation)
      std::memcpy(static_cast<void*>(m_function->execOps), m_records.data(), sizeof(gmExecOp) * m_records.size());
    }
  }

 private:
  static uint32_t Word(const gmuint8* a_at) {
    uint32_t w;
    std::memcpy(&w, a_at, sizeof w);
    return w;
  }
  void PutWord(int a_at, uint32_t a_word) { std::memcpy(m_exec + a_at, &a_word, sizeof a_word); }

  const Instruction* At(size_t a_index) const {
    return a_index < m_instructions.size() ? &m_instructions[a_index] : nullptr;
  }
  // A constant push; its value into a_value. Strings only where a_strings allows.
  bool Constant(size_t a_index, gmVariable& a_value, bool a_strings) const {
    const Instruction* ins = At(a_index);
    if (!ins) return false;
    switch (ins->op) {
      case BC_PUSHINT:
        a_value.SetInt(static_cast<gmint>(ins->operand));
        return true;
      case BC_PUSHINT0:
        a_value.SetInt(0);
        return true;
      case BC_PUSHINT1:
        a_value.SetInt(1);
        return true;
      case BC_PUSHFLOAT: {
        gmfloat f;
        std::memcpy(&f, &ins->operand, sizeof f);
        a_value.SetFloat(f);
        return true;
      }
      case BC_PUSHNULL:
        if (!a_strings) return false;
        a_value.SetNull();
        return true;
      case BC_PUSHSTRING: {
        if (!a_strings) return false;
        gmStringObject* s = Name(*ins);
        if (!s) return false;
        a_value.SetString(s);
        return true;
      }
      default:
        return false;
    }
  }
  // The string a name operand refers to, or null when the reference is not a string.
  gmStringObject* Name(const Instruction& a_ins) const {
    if (a_ins.operand >= static_cast<uint32_t>(m_function->numReferences)) return nullptr;
    gmObject* obj = m_function->references[a_ins.operand];
    if (!obj || obj->GetType() != GM_STRING) return nullptr;
    return static_cast<gmStringObject*>(obj);
  }
  // Byte offset just past instruction a_index.
  int End(size_t a_index) const {
    const Instruction& ins = m_instructions[a_index];
    return ins.at + (ins.hasOperand ? 8 : 4);
  }

  // Returns whether the combination was made; the handler must step over exactly the
  // sequence's instructions.
  bool Emit(size_t a_first, size_t a_last, uint32_t a_handler, gmExecOp a_record) {
    if (End(a_last) - m_instructions[a_first].at - 4 != gmExecSkip(a_handler)) return false;
    a_record.first = m_instructions[a_first].op;
    m_records.push_back(a_record);
    PutWord(m_instructions[a_first].at, a_handler | static_cast<uint32_t>(m_records.size() - 1)
                                                        << GM_EXEC_HANDLER_BITS);
    return true;
  }

  // An operator at a_op with its operands ready: its sink and the combination.
  bool Binary(size_t a_first, size_t a_op, int a_form, gmExecOp& a_record) {
    const int op = OperatorIndex(m_instructions[a_op].op);
    if (op < 0) return false;
    int sink = GM_SINK_PUSH;
    size_t last = a_op;
    if (const Instruction* next = At(a_op + 1)) {
      if (next->op == BC_SETLOCAL) {
        sink = GM_SINK_SET;
        a_record.c = static_cast<gmint>(next->operand);
        last = a_op + 1;
      } else if (next->op == BC_JUMPZERO || next->op == BC_JUMPNOTZERO) {
        sink = next->op == BC_JUMPZERO ? GM_SINK_JZ : GM_SINK_JNZ;
        a_record.c = static_cast<gmint>(next->operand);
        last = a_op + 1;
      } else if (next->op == BC_SETDOT && (a_record.name = Name(*next))) {
        sink = GM_SINK_SETDOT;
        last = a_op + 1;
      }
    }
    // Two stack operands pushed plainly gain nothing over the operator itself.
    if (a_form == GM_FORM_SS && sink == GM_SINK_PUSH) return false;
    return Emit(a_first, last, BinaryHandler(a_form, op, sink), a_record);
  }

  // Whether the constant push at a_index is one word long.
  bool OneWord(size_t a_index) const { return !m_instructions[a_index].hasOperand; }

  // The longest combination starting at instruction i, if any.
  bool Combine(size_t i) {
    const Instruction& ins = m_instructions[i];
    const Instruction* next = At(i + 1);
    const Instruction* third = At(i + 2);
    if (!next) return false;
    gmExecOp r{};
    r.k.SetNull();
    r.name = nullptr;
    switch (ins.op) {
      case BC_GETLOCAL: {
        r.a = static_cast<gmint>(ins.operand);
        if (next->op == BC_GETLOCAL) {
          r.b = static_cast<gmint>(next->operand);
          if (third) {
            if (Binary(i, i + 2, GM_FORM_LL, r)) return true;
            if (third->op == BC_GETIND && Emit(i, i + 2, GM_EX_LL_GETIND, r)) return true;
            if (third->op == BC_SETDOT && (r.name = Name(*third)) && Emit(i, i + 2, GM_EX_LL_SETDOT, r)) return true;
          }
          return Emit(i, i + 1, GM_EX_LL, r);
        }
        if (third && Constant(i + 1, r.k, false) && Binary(i, i + 2, OneWord(i + 1) ? GM_FORM_LK1 : GM_FORM_LK, r))
          return true;
        if (Constant(i + 1, r.k, true)) {
          return third && third->op == BC_SETDOT && (r.name = Name(*third)) &&
                 Emit(i, i + 2, OneWord(i + 1) ? GM_EX_LK1_SETDOT : GM_EX_LK_SETDOT, r);
        }
        if (next->op == BC_GETDOT && (r.name = Name(*next))) return Emit(i, i + 1, GM_EX_LDOT, r);
        if (next->op == BC_DUP && third && third->op == BC_GETDOT && (r.name = Name(*third)))
          return Emit(i, i + 2, GM_EX_LDDOT, r);
        if (next->op == BC_RETURNVALUE) return Emit(i, i + 1, GM_EX_LRET, r);
        if (next->op == BC_SETLOCAL) {
          r.c = static_cast<gmint>(next->operand);
          return Emit(i, i + 1, GM_EX_MOVE, r);
        }
        // The local is the right operand of what is already on the stack.
        r.b = r.a;
        if (next->op == BC_GETIND) return Emit(i, i + 1, GM_EX_SL_GETIND, r);
        return Binary(i, i + 1, GM_FORM_SL, r);
      }
      case BC_PUSHINT:
      case BC_PUSHINT0:
      case BC_PUSHINT1:
      case BC_PUSHFLOAT:
      case BC_PUSHNULL:
      case BC_PUSHSTRING: {
        if (Constant(i, r.k, false) && Binary(i, i + 1, OneWord(i) ? GM_FORM_SK1 : GM_FORM_SK, r)) return true;
        if (ins.op == BC_PUSHNULL && next->op == BC_GETGLOBAL && (r.name = Name(*next)))
          return Emit(i, i + 1, GM_EX_NG, r);
        if (next->op == BC_SETLOCAL && Constant(i, r.k, true)) {
          r.c = static_cast<gmint>(next->operand);
          return Emit(i, i + 1, OneWord(i) ? GM_EX_K1SET : GM_EX_KSET, r);
        }
        return false;
      }
      case BC_PUSHTHIS:
        if (next->op == BC_DUP && third && third->op == BC_GETDOT && (r.name = Name(*third)))
          return Emit(i, i + 2, GM_EX_TDDOT, r);
        if (next->op == BC_PUSHTHIS && third && third->op == BC_GETDOT && (r.name = Name(*third)))
          return Emit(i, i + 2, GM_EX_TTDOT, r);
        return next->op == BC_GETDOT && (r.name = Name(*next)) && Emit(i, i + 1, GM_EX_TDOT, r);
      case BC_FOREACH:
        if (next->op != BC_JUMPZERO) return false;
        r.a = static_cast<gmint>(ins.operand >> 16);
        r.b = static_cast<gmint>(ins.operand & 0xFFFFu);
        r.c = static_cast<gmint>(next->operand);
        return Emit(i, i + 1, GM_EX_FOREACH_JZ, r);
      case BC_GETGLOBAL: {
        gmStringObject* global = Name(ins);
        if (!global || next->op != BC_GETDOT || !(r.name = Name(*next))) return false;
        r.k.SetString(global);
        return Emit(i, i + 1, GM_EX_GDOT, r);
      }
      case BC_DUP: {
        if (next->op == BC_GETDOT && (r.name = Name(*next))) return Emit(i, i + 1, GM_EX_DDOT, r);
        if (!third || third->op != BC_SETDOT || !(r.name = Name(*third))) return false;
        if (next->op == BC_GETLOCAL) {
          r.b = static_cast<gmint>(next->operand);
          return Emit(i, i + 2, GM_EX_DL_SETDOT, r);
        }
        return Constant(i + 1, r.k, true) && Emit(i, i + 2, OneWord(i + 1) ? GM_EX_DK1_SETDOT : GM_EX_DK_SETDOT, r);
      }
      default:
        return OperatorIndex(ins.op) >= 0 && Binary(i, i, GM_FORM_SS, r);
    }
  }

  gmFunctionObject* m_function;
  std::vector<Instruction> m_instructions;
  std::vector<gmExecOp> m_records;
  std::vector<int> m_indexAt;  // instruction index by word position, -1 inside one
  gmuint8* m_exec = nullptr;
};

}  // namespace

int gmExecSkip(uint32_t a_handler) {
  if (a_handler >= GM_EX_BINARY_FIRST &&
      a_handler < GM_EX_BINARY_FIRST + GM_FORM_COUNT * GM_EXEC_OPERATOR_COUNT * GM_SINK_COUNT) {
    const uint32_t n = a_handler - GM_EX_BINARY_FIRST;
    const int form = static_cast<int>(n / (GM_EXEC_OPERATOR_COUNT * GM_SINK_COUNT));
    return kFormSkips[form] + (n % GM_SINK_COUNT == GM_SINK_PUSH ? 0 : 8);
  }
  if (a_handler >= GM_EX_LDOT && a_handler < GM_EX_COUNT) return kOtherSkips[a_handler - GM_EX_LDOT];
  return -1;
}

void gmBuildExecCode(gmFunctionObject* a_function) {
  gmFreeExecCode(a_function);
  if (!a_function->byteCode || a_function->byteCodeLength <= 0) return;
  Builder(a_function).Build();
}

void gmSetExecCombining(bool a_on) { g_combining = a_on; }

void gmFreeExecCode(gmFunctionObject* a_function) {
  std::free(a_function->execCode);
  std::free(a_function->execOps);
  a_function->execCode = nullptr;
  a_function->execOps = nullptr;
}
