#ifndef GMBYTECODEGEN_H
#define GMBYTECODEGEN_H

// The growable byte code buffer of one function being compiled. Besides the words it keeps
// the two things that must see every emitted instruction: the running operand stack depth
// (and its maximum), and in debug mode the line entries.
//
// Forward jumps are laid out by reserving an instruction's 8 bytes and writing it later with
// EmitAt; such an instruction is counted and line-tagged when it is written, which is why the
// line entries are sorted before use.

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
  // Leaves room for an instruction with an operand and returns its offset.
  int Reserve();
  // Writes op and operand at a position returned by Reserve (or over any operand word).
  void EmitAt(int position, gmByteCode op, uint32_t operand);
  // Overwrites the operand word at `position` without counting anything (jump patching).
  void PatchWord(int position, uint32_t word);

  // Source line that the next emitted instructions are tagged with.
  void SetLine(int line) { currentLine = line; }
  int Line() const { return currentLine; }

  int Depth() const { return depth; }
  int MaxDepth() const { return maxDepth; }
  // After a call the depth is the one before the callee was pushed, plus the result.
  void SetDepth(int d);

  // Sorts the line entries by offset and drops every entry whose line equals the line of
  // the entry kept before it. Returns the compacted table.
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
