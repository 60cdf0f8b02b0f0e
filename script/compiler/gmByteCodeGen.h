#ifndef GMBYTECODEGEN_H
#define GMBYTECODEGEN_H

// The growable byte code buffer of one function being compiled. Besides the words it keeps
// the two things that must see every emitted instruction: the running operand stack depth
// (and its maximum), and in debug mode the line entries.
//
// Forward jumps are emitted with a placeholder target that is patched once the target is
// known. They are counted and line-tagged where they stand in the code, not when patched, so
// the depth is the true depth at each instruction (a patched jump counted late would inflate
// the maximum by one for every enclosing if/else) and the line entries come out in offset
// order.

#include <cstdint>
#include <vector>

#include "script/compiler/gmByteCode.h"
#include "script/compiler/gmCodeGenHooks.h"

class gmByteCodeGen {
 public:
  void Reset(bool debug);

  // Current end of the buffer, a byte offset from the start of the function.
  int Tell() const { return static_cast<int>(bytes.size()); }
  const unsigned char* Data() const { return bytes.data(); }

  int Emit(gmByteCode op);
  int Emit(gmByteCode op, uint32_t operand);
  // Overwrites the operand word at byte `position` (jump patching).
  void PatchWord(int position, uint32_t word);
  // Patches the operand of the instruction emitted at `instruction`.
  void PatchOperand(int instruction, uint32_t operand) { PatchWord(instruction + 4, operand); }

  // Source line that the next emitted instructions are tagged with.
  void SetLine(int line) { currentLine = line; }
  int Line() const { return currentLine; }

  int Depth() const { return depth; }
  int MaxDepth() const { return maxDepth; }
  // After a call the depth is the one before the callee was pushed, plus the result.
  void SetDepth(int d);

  // Drops every line entry whose line equals the line of the entry kept before it and
  // returns the compacted table.
  const std::vector<gmLineInfo>& FinishLines();

  // Reverses the byte order of every word (for hooks that ask for the other order).
  void SwapWords();

 private:
  void Record(int position);
  void Count(gmByteCode op);
  void PutWord(int position, uint32_t word);

  std::vector<unsigned char> bytes;
  std::vector<gmLineInfo> lines;
  bool debug = false;
  int currentLine = 0;
  int depth = 0;
  int maxDepth = 0;
};

#endif
