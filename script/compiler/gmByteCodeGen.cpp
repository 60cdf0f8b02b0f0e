#include "script/compiler/gmByteCodeGen.h"

#include <cstring>
#include <utility>

void gmByteCodeGen::Reset(bool isDebug) {
  bytes.clear();
  lines.clear();
  debug = isDebug;
  currentLine = 0;
  depth = 0;
  maxDepth = 0;
}

void gmByteCodeGen::PutWord(int position, uint32_t word) {
  size_t end = static_cast<size_t>(position) + 4;
  if (bytes.size() < end) bytes.resize(end);
  std::memcpy(bytes.data() + position, &word, 4);
}

void gmByteCodeGen::Record(int position) {
  if (!debug) return;
  if (!lines.empty() && lines.back().byteCodeOffset == position && lines.back().lineNumber == currentLine) return;
  lines.push_back(gmLineInfo{position, currentLine});
}

void gmByteCodeGen::Count(gmByteCode op) {
  // call's depth is set by the code generator, which knows where the callee started.
  if (op == BC_CALL) return;
  depth += gmByteCodeTable[op].stackEffect;
  if (depth > maxDepth) maxDepth = depth;
}

void gmByteCodeGen::SetDepth(int d) {
  depth = d;
  if (depth > maxDepth) maxDepth = depth;
}

int gmByteCodeGen::Emit(gmByteCode op) {
  int at = Tell();
  Record(at);
  PutWord(at, op);
  Count(op);
  return at;
}

int gmByteCodeGen::Emit(gmByteCode op, uint32_t operand) {
  int at = Tell();
  Record(at);
  PutWord(at, op);
  PutWord(at + 4, operand);
  Count(op);
  return at;
}

void gmByteCodeGen::PatchWord(int position, uint32_t word) { PutWord(position, word); }

const std::vector<gmLineInfo>& gmByteCodeGen::FinishLines() {
  size_t n = lines.size();
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (kept > 0 && lines[kept - 1].lineNumber == lines[i].lineNumber) continue;
    lines[kept++] = lines[i];
  }
  lines.resize(kept);
  return lines;
}

void gmByteCodeGen::SwapWords() {
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
}
