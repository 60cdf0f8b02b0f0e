#ifndef GMCODEGENHOOKS_H
#define GMCODEGENHOOKS_H

// The code generator's only door to the machine: it asks the hooks for the objects its byte
// code refers to and hands every finished function back through AddFunction. The machine's
// implementation (gmHooks) lives with the virtual machine; tests bring their own.

class gmObject;
class gmStringObject;
class gmFunctionObject;

// One (byte offset, source line) pair of a function's line table; offsets ascend and
// neighbouring entries never carry the same line.
struct gmLineInfo {
  int byteCodeOffset;
  int lineNumber;
};

// Everything the machine needs to turn a function object into a callable script function.
// All pointers are borrowed from the code generator and valid only during AddFunction:
// copy what you keep.
struct gmFunctionInfo {
  gmFunctionObject* func;  // made by NewFunction: for "__main" when the compile began,
                           // else when the constructor was met
  bool root;               // true only for "__main"
  const unsigned char* byteCode;
  int byteCodeLength;  // in bytes, a multiple of 4
  int numParams;       // declared parameters (0 for "__main")
  int numLocals;       // slots beyond the parameters (for "__main": all slots)
  int maxStackSize;    // highest operand stack depth the byte code reaches
  // Objects the byte code's string, name and function operands index, each object once.
  gmObject* const* references;
  int numReferences;
  // Debug mode only, else null: names indexed by slot (parameters first, a slot without a
  // name is null), and the line table.
  const char* const* symbols;
  const gmLineInfo* lineInfo;
  int lineInfoCount;
  const char* debugName;  // null when the function has no name
};

class gmCodeGenHooks {
 public:
  virtual ~gmCodeGenHooks() {}

  // Called once before anything else of a compile; the machine switches its collector off
  // here so objects made during the compile survive until they are linked in.
  virtual bool Begin(bool debug) = 0;
  // Called for every finished function, innermost first, "__main" last; never for a compile
  // that failed.
  virtual bool AddFunction(gmFunctionInfo& info) = 0;
  // Called once at the end of every compile that got past Begin, with the error count.
  virtual bool End(int errors) = 0;

  // A fresh script function object for a function constructor.
  virtual gmFunctionObject* NewFunction() = 0;
  // A permanent string for member, global and field names.
  virtual gmStringObject* GetSymbol(const char* text) = 0;
  // An ordinary interned string for a string literal.
  virtual gmStringObject* GetStringConstant(const char* text) = 0;

  // Byte code is written in machine order; a hook that wants the other order says so here.
  virtual bool SwapEndian() const { return false; }
};

#endif
