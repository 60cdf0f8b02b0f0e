// Listings of byte code that did not come from the code generator: a function object filled
// by hand, and damaged streams that must list without reading past the end.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "script/compiler/gmByteCode.h"
#include "script/compiler/gmDisassembler.h"
#include "script/vm/gmMachine.h"

namespace {

std::vector<unsigned char> Words(std::initializer_list<uint32_t> words) {
  std::vector<unsigned char> out(words.size() * 4);
  size_t i = 0;
  for (uint32_t w : words) std::memcpy(out.data() + 4 * i++, &w, 4);
  return out;
}

TEST(Disassembler, FunctionObjectWithDebugRecord) {
  gmMachine machine;
  gmFunctionObject* f = machine.MakeScriptFunction();
  float half = 0.5f;
  uint32_t halfBits;
  std::memcpy(&halfBits, &half, 4);
  std::vector<unsigned char> code = Words({BC_PUSHSTRING, 0, BC_GETGLOBAL, 1, BC_PUSHFLOAT, halfBits, BC_FOREACH,
                                           (1u << 16) | 0, BC_GETLOCAL, 1, BC_RETURNVALUE});
  gmObject* refs[] = {machine.MakeString("a\"b\n"), machine.MakePermanentString("g")};
  char n0[] = "p", n1[] = "__t1";
  char* symbols[] = {n0, n1};
  char name[] = "walk";
  gmDebugLine lines[] = {{0, 3}, {16, 4}};
  gmFunctionDebugInfo debug;
  debug.name = name;
  debug.symbols = symbols;
  debug.numSymbols = 2;
  debug.lineInfo = lines;
  debug.lineInfoCount = 2;

  f->byteCode = code.data();
  f->byteCodeLength = static_cast<gmint>(code.size());
  f->references = refs;
  f->numReferences = 2;
  f->debugInfo = &debug;
  f->numParams = 1;
  f->numLocals = 1;
  f->maxStackSize = 3;
  std::string listing = gmDisassembler::Disassemble(*f);
  // The buffers above belong to the test, not to the machine.
  f->byteCode = nullptr;
  f->references = nullptr;
  f->numReferences = 0;
  f->debugInfo = nullptr;

  EXPECT_EQ(listing,
            "function walk params 1 locals 1 stack 3\n"
            "0000 pushstring \"a\\\"b\\n\"\n"
            "0008 getglobal g\n"
            "0016 pushfloat 0.5\n"
            "0024 foreach 1 (__t1) 0 (p)\n"
            "0032 getlocal 1 (__t1)\n"
            "0040 returnvalue\n"
            "lines\n"
            "0000 3\n"
            "0016 4\n");
}

TEST(Disassembler, DamagedStreamsListSafely) {
  std::vector<unsigned char> code = Words({77, BC_GETDOT, 5, BC_PUSHINT, 0xffffffffu, BC_JUMP});
  code.push_back(0);  // a stray byte: not a whole word
  gmFunctionInfo info{};
  info.byteCode = code.data();
  info.byteCodeLength = static_cast<int>(code.size());
  EXPECT_EQ(gmDisassembler::Disassemble(info),
            "function (unnamed) params 0 locals 0 stack 0\n"
            "0000 undefined 77\n"
            "0004 getdot ?#5\n"
            "0012 pushint -1\n"
            "0020 jump <truncated>\n");
}

}  // namespace
