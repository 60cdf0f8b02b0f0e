#include "script/compiler/gmDisassembler.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "script/compiler/gmByteCode.h"
#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"

namespace {

// What a listing needs, whichever form the function comes in.
struct Listing {
  const unsigned char* code = nullptr;
  int length = 0;
  gmObject* const* references = nullptr;
  int numReferences = 0;
  const char* const* symbols = nullptr;
  int numSymbols = 0;
  std::vector<gmLineInfo> lines;
  const char* name = nullptr;
  int numParams = 0;
  int numLocals = 0;
  int maxStack = 0;
};

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
  char buffer[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof(buffer), format, args);
  va_end(args);
  out += buffer;
}

const gmStringObject* StringAt(const Listing& l, uint32_t index) {
  if (index >= static_cast<uint32_t>(l.numReferences) || !l.references[index]) return nullptr;
  const gmObject* o = l.references[index];
  if (o->GetType() != GM_STRING) return nullptr;
  return static_cast<const gmStringObject*>(o);
}

void AppendQuoted(std::string& out, const char* text) {
  out += '"';
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    switch (*p) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (*p < 32 || *p > 126)
          Append(out, "\\%d", *p);
        else
          out += static_cast<char>(*p);
    }
  }
  out += '"';
}

void AppendSlot(std::string& out, const Listing& l, uint32_t slot) {
  Append(out, "%u", slot);
  if (slot < static_cast<uint32_t>(l.numSymbols) && l.symbols[slot]) Append(out, " (%s)", l.symbols[slot]);
}

std::string Render(const Listing& l) {
  std::string out;
  Append(out, "function %s params %d locals %d stack %d\n", l.name ? l.name : "(unnamed)", l.numParams, l.numLocals,
         l.maxStack);
  int pos = 0;
  while (pos + 4 <= l.length) {
    uint32_t op;
    std::memcpy(&op, l.code + pos, 4);
    Append(out, "%04d %s", pos, gmByteCodeName(op));
    if (op >= BC_COUNT) Append(out, " %u", op);
    int size = gmByteCodeSize(op);
    if (size == 8) {
      if (pos + 8 > l.length) {
        out += " <truncated>\n";
        break;
      }
      uint32_t operand;
      std::memcpy(&operand, l.code + pos + 4, 4);
      out += ' ';
      switch (op) {
        case BC_GETDOT:
        case BC_SETDOT:
        case BC_GETGLOBAL:
        case BC_SETGLOBAL:
        case BC_GETTHIS:
        case BC_SETTHIS: {
          const gmStringObject* s = StringAt(l, operand);
          if (s)
            out += s->GetString();
          else
            Append(out, "?#%u", operand);
          break;
        }
        case BC_PUSHSTRING: {
          const gmStringObject* s = StringAt(l, operand);
          if (s)
            AppendQuoted(out, s->GetString());
          else
            Append(out, "?#%u", operand);
          break;
        }
        case BC_PUSHFUNCTION:
          Append(out, "#%u", operand);
          break;
        case BC_JUMP:
        case BC_JUMPZERO:
        case BC_JUMPNOTZERO:
        case BC_JUMPZEROKEEP:
        case BC_JUMPNOTZEROKEEP:
          Append(out, "%04u", operand);
          break;
        case BC_GETLOCAL:
        case BC_SETLOCAL:
          AppendSlot(out, l, operand);
          break;
        case BC_FOREACH:
          AppendSlot(out, l, operand >> 16);
          out += ' ';
          AppendSlot(out, l, operand & 0xffffu);
          break;
        case BC_PUSHFLOAT: {
          float f;
          std::memcpy(&f, &operand, 4);
          Append(out, "%g", static_cast<double>(f));
          break;
        }
        case BC_PUSHINT:
          Append(out, "%d", static_cast<int32_t>(operand));
          break;
        default:
          Append(out, "%u", operand);
          break;
      }
    }
    out += '\n';
    pos += size;
  }
  if (!l.lines.empty()) {
    out += "lines\n";
    for (const gmLineInfo& e : l.lines) Append(out, "%04d %d\n", e.byteCodeOffset, e.lineNumber);
  }
  return out;
}

}  // namespace

std::string gmDisassembler::Disassemble(const gmFunctionInfo& info) {
  Listing l;
  l.code = info.byteCode;
  l.length = info.byteCodeLength;
  l.references = info.references;
  l.numReferences = info.numReferences;
  l.symbols = info.symbols;
  l.numSymbols = info.symbols ? info.numParams + info.numLocals : 0;
  if (info.lineInfo) l.lines.assign(info.lineInfo, info.lineInfo + info.lineInfoCount);
  l.name = info.debugName;
  l.numParams = info.numParams;
  l.numLocals = info.numLocals;
  l.maxStack = info.maxStackSize;
  return Render(l);
}

std::string gmDisassembler::Disassemble(const gmFunctionObject& func) {
  Listing l;
  l.code = func.byteCode;
  l.length = func.byteCodeLength;
  l.references = func.references;
  l.numReferences = func.numReferences;
  if (const gmFunctionDebugInfo* d = func.debugInfo) {
    l.symbols = d->symbols;
    l.numSymbols = d->numSymbols;
    for (int i = 0; i < d->lineInfoCount; ++i)
      l.lines.push_back(gmLineInfo{d->lineInfo[i].byteCodeOffset, d->lineInfo[i].lineNumber});
    l.name = d->name;
  }
  l.numParams = func.numParams;
  l.numLocals = func.numLocals;
  l.maxStack = func.maxStackSize;
  return Render(l);
}
