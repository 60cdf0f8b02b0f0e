// The byte code buffer on its own: depth counting and the line table's compaction.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "script/compiler/gmByteCodeGen.h"

namespace {

std::vector<std::pair<int, int>> Lines(gmByteCodeGen& code) {
  std::vector<std::pair<int, int>> out;
  for (const gmLineInfo& e : code.FinishLines()) out.emplace_back(e.byteCodeOffset, e.lineNumber);
  return out;
}

TEST(ByteCodeGen, LineTableKeepsOnlyLineChanges) {
  gmByteCodeGen code;
  code.Reset(true);
  code.SetLine(1);
  code.Emit(BC_PUSHINT1);             // 0
  int a = code.Emit(BC_JUMPZERO, 0);  // 4, patched below but tagged here
  code.Emit(BC_PUSHNULL);             // 12
  code.SetLine(2);
  code.Emit(BC_POP);  // 16
  code.Emit(BC_POP);  // 20
  code.SetLine(1);
  code.Emit(BC_RETURN);  // 24: back on an earlier line
  code.SetLine(3);
  code.PatchOperand(a, 24);
  std::vector<std::pair<int, int>> expected = {{0, 1}, {16, 2}, {24, 1}};
  EXPECT_EQ(Lines(code), expected);
  uint32_t target;
  std::memcpy(&target, code.Data() + a + 4, 4);
  EXPECT_EQ(target, 24u);
}

TEST(ByteCodeGen, NoLineTableOutsideDebugMode) {
  gmByteCodeGen code;
  code.Reset(false);
  code.SetLine(5);
  code.Emit(BC_PUSHNULL);
  EXPECT_TRUE(code.FinishLines().empty());
}

TEST(ByteCodeGen, DepthFollowsStackEffectsAndKeepsMaximum) {
  gmByteCodeGen code;
  code.Reset(false);
  code.Emit(BC_PUSHTABLE);
  code.Emit(BC_DUP);
  code.Emit(BC_PUSHINT, 7);
  code.Emit(BC_PUSHINT1);
  EXPECT_EQ(code.Depth(), 4);
  code.Emit(BC_SETIND);
  EXPECT_EQ(code.Depth(), 1);
  code.Emit(BC_DUP2);
  EXPECT_EQ(code.MaxDepth(), 4);
  code.SetDepth(6);
  EXPECT_EQ(code.MaxDepth(), 6);
  EXPECT_EQ(code.Tell(), 28);
}

}  // namespace
