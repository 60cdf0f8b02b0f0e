// The byte code buffer on its own: depth counting and the line table's sort and compaction.

#include <gtest/gtest.h>

#include <vector>

#include "script/compiler/gmByteCodeGen.h"

namespace {

std::vector<std::pair<int, int>> Lines(gmByteCodeGen& code) {
  std::vector<std::pair<int, int>> out;
  for (const gmLineInfo& e : code.FinishLines()) out.emplace_back(e.byteCodeOffset, e.lineNumber);
  return out;
}

TEST(ByteCodeGen, LineTableIsSortedAndCompacted) {
  gmByteCodeGen code;
  code.Reset(true);
  code.SetLine(1);
  code.Emit(BC_PUSHINT1);       // 0, line 1
  int a = code.Reserve();       // 4: written later, tagged with the line current then
  code.Emit(BC_PUSHNULL);       // 12, still line 1: no new entry needed after compaction
  code.SetLine(2);
  code.Emit(BC_POP);            // 16, line 2
  code.Emit(BC_POP);            // 20, line 2
  code.SetLine(3);
  code.EmitAt(a, BC_JUMPZERO, 24);  // recorded out of order, line 3
  code.SetLine(2);
  code.Emit(BC_RETURN);         // 24, line 2
  // After sorting, an entry survives only where the line changes.
  std::vector<std::pair<int, int>> expected = {{0, 1}, {4, 3}, {12, 1}, {16, 2}};
  EXPECT_EQ(Lines(code), expected);
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
