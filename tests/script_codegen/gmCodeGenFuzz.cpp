// Whatever parses must compile to well-formed byte code or to a logged error: no crash, and
// every function handed over must hold only whole instructions whose jump targets, slots and
// reference indexes stay inside the function. The interpreter's working copy built from it
// must keep every word that is not a combined instruction, and every combined instruction
// must stand on the instruction it replaces and step over whole instructions only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "script/compiler/gmByteCode.h"
#include "script/compiler/gmCodeGen.h"
#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"
#include "script/values/gmFunctionObject.h"
#include "script/vm/gmExecCode.h"
#include "tests/script_codegen/gmTestHooks.h"

namespace {

uint32_t WordAt(const unsigned char* a_code, int a_at) {
  uint32_t w;
  std::memcpy(&w, a_code + a_at, 4);
  return w;
}

void CheckExecCode(const gmFunctionInfo& info, const std::set<uint32_t>& starts) {
  gmFunctionObject f;
  f.byteCode = const_cast<gmuint8*>(info.byteCode);
  f.byteCodeLength = info.byteCodeLength;
  f.references = const_cast<gmObject**>(info.references);
  f.numReferences = info.numReferences;
  gmBuildExecCode(&f);
  const int length = info.byteCodeLength;
  auto startOrEnd = [&](int a_at) { return a_at == length || starts.count(static_cast<uint32_t>(a_at)); };
  for (int at = 0; at < length; at += 4) {
    const uint32_t plain = WordAt(info.byteCode, at), exec = WordAt(f.execCode, at);
    if (exec == plain) continue;
    if (!starts.count(static_cast<uint32_t>(at))) std::abort();  // operands are never rewritten
    uint32_t handler = exec & GM_EXEC_HANDLER_MASK;
    if (handler >= GM_EX_LINE_PLAIN_FIRST) {
      // `line` standing for the plain instruction after it.
      if (plain != BC_LINE || !startOrEnd(at + 4) || WordAt(info.byteCode, at + 4) != handler - GM_EX_LINE_PLAIN_FIRST)
        std::abort();
      continue;
    }
    int from = at;
    if (handler >= GM_EX_COMBINED_END) {
      // A line or jump variant: the combined instruction it goes on with must be there.
      const bool jump = handler >= GM_EX_COMBINED_END + GM_EX_LINE_OFFSET;
      if (plain != (jump ? BC_JUMP : BC_LINE)) std::abort();
      from = jump ? static_cast<int>(WordAt(info.byteCode, at + 4)) : at + 4;
      handler -= jump ? GM_EX_JUMP_OFFSET : GM_EX_LINE_OFFSET;
      if (!startOrEnd(from) || from == length ||
          WordAt(f.execCode, from) != (exec - (jump ? GM_EX_JUMP_OFFSET : GM_EX_LINE_OFFSET)))
        std::abort();
    }
    if (handler < BC_COUNT || handler >= GM_EX_COMBINED_END) std::abort();
    const gmExecOp& record = f.execOps[exec >> GM_EXEC_HANDLER_BITS];
    if (record.first != WordAt(info.byteCode, from) || !startOrEnd(from + 4 + gmExecSkip(handler))) std::abort();
  }
  gmFreeExecCode(&f);
  f.byteCode = nullptr;
  f.references = nullptr;
}

struct CheckingHooks : gmTestHooks {
  using gmTestHooks::gmTestHooks;
  bool AddFunction(gmFunctionInfo& info) override {
    Check(info);
    return gmTestHooks::AddFunction(info);
  }

  static void Check(const gmFunctionInfo& info) {
    if (info.byteCodeLength % 4 != 0 || info.maxStackSize < 0) std::abort();
    std::set<uint32_t> starts;
    int pos = 0;
    while (pos < info.byteCodeLength) {
      uint32_t op;
      std::memcpy(&op, info.byteCode + pos, 4);
      if (op >= BC_COUNT) std::abort();
      starts.insert(static_cast<uint32_t>(pos));
      pos += gmByteCodeSize(op);
    }
    if (pos != info.byteCodeLength) std::abort();
    CheckExecCode(info, starts);
    uint32_t slots = static_cast<uint32_t>(info.numParams + info.numLocals);
    for (pos = 0; pos < info.byteCodeLength; pos += 4) {
      uint32_t op, operand;
      std::memcpy(&op, info.byteCode + pos, 4);
      if (!gmByteCodeTable[op].hasOperand) continue;
      pos += 4;
      std::memcpy(&operand, info.byteCode + pos, 4);
      switch (op) {
        case BC_JUMP:
        case BC_JUMPZERO:
        case BC_JUMPNOTZERO:
        case BC_JUMPZEROKEEP:
        case BC_JUMPNOTZEROKEEP:
          // A jump may also land on the end, just past the closing return.
          if (!starts.count(operand) && operand != static_cast<uint32_t>(info.byteCodeLength)) std::abort();
          break;
        case BC_GETLOCAL:
        case BC_SETLOCAL:
          if (operand >= slots) std::abort();
          break;
        case BC_FOREACH:
          if ((operand >> 16) >= slots || (operand & 0xffff) >= slots) std::abort();
          break;
        case BC_GETDOT:
        case BC_SETDOT:
        case BC_GETGLOBAL:
        case BC_SETGLOBAL:
        case BC_GETTHIS:
        case BC_SETTHIS:
        case BC_PUSHSTRING:
        case BC_PUSHFUNCTION:
          if (operand >= static_cast<uint32_t>(info.numReferences)) std::abort();
          break;
        default:
          break;
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks debug mode; the rest is the text (up to any embedded NUL).
  if (size == 0) return 0;
  bool debug = data[0] & 1;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  gmLog log;
  gmCodeTree& tree = gmCodeTree::Get();
  if (tree.Parse(text.c_str(), &log) == gmCodeTree::PARSE_OK) {
    static gmMachine* machine = new gmMachine;
    CheckingHooks hooks(*machine);
    int errors = gmCodeGen::Get().Compile(tree.GetRoot(), &hooks, debug, &log);
    gmCodeGen::Get().Reset();
    if (errors == 0 && !hooks.Main()) std::abort();
    if (errors != 0 && (!hooks.functions.empty() || log.GetEntryCount() == 0)) std::abort();
  }
  tree.Reset();
  return 0;
}
