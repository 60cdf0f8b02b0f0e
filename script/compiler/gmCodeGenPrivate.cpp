#include "script/compiler/gmCodeGenPrivate.h"

#include <cstdio>
#include <cstring>

#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"
#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"

// ---- reading tree nodes ---------------------------------------------------------------------

namespace {

int Kind(const gmCodeTreeNode* n) { return n->kind; }
int Sub(const gmCodeTreeNode* n) { return n->subtype; }
int Detail(const gmCodeTreeNode* n) { return n->detail; }
int Flags(const gmCodeTreeNode* n) { return n->flags; }
int Line(const gmCodeTreeNode* n) { return n->line; }
const gmCodeTreeNode* Child(const gmCodeTreeNode* n, int i) { return n->children[i]; }
const gmCodeTreeNode* Next(const gmCodeTreeNode* n) { return n->next; }
int IntValue(const gmCodeTreeNode* n) { return n->data.intValue; }
float FloatValue(const gmCodeTreeNode* n) { return n->data.floatValue; }
const char* Text(const gmCodeTreeNode* n) { return n->data.text; }

bool IsIdentifier(const gmCodeTreeNode* n) { return n && Kind(n) == GMNK_EXPRESSION && Sub(n) == GMET_IDENTIFIER; }
bool IsOperation(const gmCodeTreeNode* n, int op) {
  return n && Kind(n) == GMNK_EXPRESSION && Sub(n) == GMET_OPERATION && Detail(n) == op;
}
bool IsFunction(const gmCodeTreeNode* n) { return n && Kind(n) == GMNK_EXPRESSION && Sub(n) == GMET_FUNCTION; }

// Messages exactly as the log stores them; the misspellings are part of the format.
const char* const kIllegalBreak = "error (%d) illegal break statement";
const char* const kIllegalContinue = "error (%d) illegal continue statement";
const char* const kIllegalDot = "error (%d) illegal dot operator";
const char* const kIllegalLValue = "error (%d) illegal l-value for '=' operator";
const char* const kParameterDeclared = "error (%d) parameter %s already declared";
const char* const kUnknownOperator = "error (%d) unkown operator";               // sic
const char* const kUnknownArithmetic = "error (%d) unkown arithmatic operator";  // sic
const char* const kUnknownShift = "error (%d) unkown shift operator";            // sic
const char* const kUnknownComparison = "error (%d) unkown comparison operator";  // sic
const char* const kUnknownBitwise = "error (%d) unkown bitwise operator";        // sic
const char* const kUnknownConstant = "unkown constant type";                     // sic
const char* const kInternalError = "internal error";

}  // namespace

gmCodeGen& gmCodeGen::Get() {
  static gmCodeGenPrivate instance;
  return instance;
}

// ---- contexts -------------------------------------------------------------------------------

void gmCodeGenPrivate::Context::Reset(bool isDebug) {
  code.Reset(isDebug);
  variables.clear();
  variableIndex.clear();
  numSlots = 0;
  references.clear();
  referenceIndex.clear();
  lastLine = 0;
}

gmCodeGenPrivate::Variable* gmCodeGenPrivate::Context::Find(const char* name) {
  auto it = variableIndex.find(name);
  return it == variableIndex.end() ? nullptr : &variables[it->second];
}

gmCodeGenPrivate::Variable& gmCodeGenPrivate::Context::Declare(const char* name, int scope) {
  Variable* v = Find(name);
  if (!v) {
    variableIndex.emplace(name, variables.size());
    variables.push_back(Variable{name, scope, -1});
    v = &variables.back();
  }
  v->scope = scope;
  if (scope == GMSC_LOCAL && v->slot < 0) v->slot = numSlots++;
  return *v;
}

uint32_t gmCodeGenPrivate::Context::Reference(gmObject* object) {
  auto it = referenceIndex.find(object);
  if (it != referenceIndex.end()) return it->second;
  uint32_t index = static_cast<uint32_t>(references.size());
  references.push_back(object);
  referenceIndex.emplace(object, index);
  return index;
}

gmCodeGenPrivate::Context& gmCodeGenPrivate::PushContext() {
  if (depth == static_cast<int>(contexts.size())) contexts.push_back(std::make_unique<Context>());
  Context& c = *contexts[depth++];
  c.Reset(debug);
  return c;
}

void gmCodeGenPrivate::PopContext() {
  Current().Reset(debug);
  --depth;
}

void gmCodeGenPrivate::Reset() {
  for (auto& c : contexts) c->Reset(false);
  depth = 0;
  finished.clear();
  loops.clear();
  patches.clear();
}

// ---- compile --------------------------------------------------------------------------------

void gmCodeGenPrivate::Error(const char* message, int line, const char* name) {
  if (!log) return;
  if (std::strstr(message, "%s"))
    log->LogEntry(message, line, name ? name : "");
  else if (std::strstr(message, "%d"))
    log->LogEntry(message, line);
  else
    log->LogEntry("%s", message);
}

uint32_t gmCodeGenPrivate::Symbol(const char* text) { return Current().Reference(hooks->GetSymbol(text)); }

int gmCodeGenPrivate::Compile(const gmCodeTreeNode* root, gmCodeGenHooks* withHooks, bool isDebug, gmLog* withLog) {
  if (busy || !withHooks) return 1;
  busy = true;
  hooks = withHooks;
  log = withLog;
  debug = isDebug;
  Reset();

  int errors = 0;
  hooks->Begin(debug);
  try {
    gmFunctionObject* main = hooks->NewFunction();
    PushContext();
    if (GenStatementList(root)) {
      Current().code.Emit(BC_RETURN);
      FinishFunction(main, true, 0, "__main");
      // Nothing is handed over before the whole text compiled: a failed compile leaves every
      // function object it made uninitialised, for the collector to reclaim.
      if (!HandOver()) errors = 1;
    } else {
      errors = 1;
    }
  } catch (...) {
    // The machine ran out of memory: the generator stays usable for the next text.
    hooks->End(1);
    Reset();
    hooks = nullptr;
    log = nullptr;
    busy = false;
    throw;
  }
  hooks->End(errors);

  Reset();
  hooks = nullptr;
  log = nullptr;
  busy = false;
  return errors;
}

void gmCodeGenPrivate::FinishFunction(gmFunctionObject* func, bool root, int numParams, const char* name) {
  Context& c = Current();
  finished.emplace_back();
  Finished& f = finished.back();
  f.func = func;
  f.root = root;
  if (hooks->SwapEndian()) c.code.SwapWords();
  f.code.assign(c.code.Data(), c.code.Data() + c.code.Tell());
  f.numParams = numParams;
  f.numLocals = c.numSlots - numParams;
  f.maxStackSize = c.code.MaxDepth();
  f.references = c.references;
  if (debug) {
    f.symbols.assign(static_cast<size_t>(c.numSlots), std::string());
    f.hasSymbol.assign(static_cast<size_t>(c.numSlots), false);
    for (const Variable& v : c.variables) {
      if (v.slot < 0) continue;
      f.symbols[static_cast<size_t>(v.slot)] = v.name;
      f.hasSymbol[static_cast<size_t>(v.slot)] = true;
    }
    f.lines = c.code.FinishLines();
  }
  f.hasName = name != nullptr;
  if (name) f.name = name;
}

bool gmCodeGenPrivate::HandOver() {
  bool ok = true;
  std::vector<const char*> symbols;
  for (Finished& f : finished) {
    gmFunctionInfo info{};
    info.func = f.func;
    info.root = f.root;
    info.byteCode = f.code.data();
    info.byteCodeLength = static_cast<int>(f.code.size());
    info.numParams = f.numParams;
    info.numLocals = f.numLocals;
    info.maxStackSize = f.maxStackSize;
    info.references = f.references.data();
    info.numReferences = static_cast<int>(f.references.size());
    if (debug) {
      symbols.clear();
      for (size_t i = 0; i < f.symbols.size(); ++i) symbols.push_back(f.hasSymbol[i] ? f.symbols[i].c_str() : nullptr);
      info.symbols = symbols.data();
      info.lineInfo = f.lines.data();
      info.lineInfoCount = static_cast<int>(f.lines.size());
    }
    info.debugName = f.hasName ? f.name.c_str() : nullptr;
    if (!hooks->AddFunction(info)) ok = false;
  }
  return ok;
}

// ---- statements -----------------------------------------------------------------------------

bool gmCodeGenPrivate::GenStatementList(const gmCodeTreeNode* node) {
  for (; node; node = Next(node))
    if (!GenStatementItem(node)) return false;
  return true;
}

bool gmCodeGenPrivate::GenStatementItem(const gmCodeTreeNode* node) {
  if (!node) return true;
  Context& c = Current();
  c.code.SetLine(Line(node));
  bool compound = Kind(node) == GMNK_STATEMENT && Sub(node) == GMST_COMPOUND;
  if (debug && !compound && Line(node) != c.lastLine) {
    c.code.Emit(BC_LINE);
    c.lastLine = Line(node);
  }
  if (!GenNode(node)) return false;
  if (Flags(node) & GMNF_DISCARD) Current().code.Emit(BC_POP);
  return true;
}

bool gmCodeGenPrivate::GenNode(const gmCodeTreeNode* node) {
  switch (Kind(node)) {
    case GMNK_DECLARATION:
      return GenDeclaration(node);
    case GMNK_STATEMENT:
      return GenStatement(node);
    case GMNK_EXPRESSION:
      return GenExpression(node);
  }
  Error(kInternalError, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenDeclaration(const gmCodeTreeNode* node) {
  const gmCodeTreeNode* id = Child(node, 0);
  int scope = Detail(node);
  if (Sub(node) != GMDT_VARIABLE || !IsIdentifier(id) || scope < GMSC_LOCAL || scope > GMSC_MEMBER) {
    Error(kInternalError, Line(node));
    return false;
  }
  Current().Declare(Text(id), scope);
  return true;
}

bool gmCodeGenPrivate::GenStatement(const gmCodeTreeNode* node) {
  switch (Sub(node)) {
    case GMST_RETURN:
      return GenReturn(node);
    case GMST_BREAK:
      return GenJumpOut(node, true);
    case GMST_CONTINUE:
      return GenJumpOut(node, false);
    case GMST_FOR:
      return GenFor(node);
    case GMST_FOREACH:
      return GenForEach(node);
    case GMST_WHILE:
      return GenWhile(node);
    case GMST_DOWHILE:
      return GenDoWhile(node);
    case GMST_IF:
      return GenIf(node);
    case GMST_COMPOUND:
      return GenStatementList(Child(node, 0));
  }
  Error(kInternalError, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenReturn(const gmCodeTreeNode* node) {
  if (Child(node, 0)) {
    if (!GenExpression(Child(node, 0))) return false;
    Current().code.Emit(BC_RETURNVALUE);
  } else {
    Current().code.Emit(BC_RETURN);
  }
  return true;
}

void gmCodeGenPrivate::PushLoop() { loops.push_back(Loop{-1, -1, depth}); }

void gmCodeGenPrivate::FillPatches(int head, int target) {
  for (int p = head; p >= 0; p = patches[static_cast<size_t>(p)].next)
    Current().code.PatchWord(patches[static_cast<size_t>(p)].position, static_cast<uint32_t>(target));
}

void gmCodeGenPrivate::PopLoop(int breakTarget, int continueTarget) {
  Loop loop = loops.back();
  loops.pop_back();
  FillPatches(loop.breaks, breakTarget);
  FillPatches(loop.continues, continueTarget);
}

bool gmCodeGenPrivate::GenJumpOut(const gmCodeTreeNode* node, bool isBreak) {
  // A loop of an enclosing function does not count: its code lives in another buffer.
  if (loops.empty() || loops.back().context != depth) {
    Error(isBreak ? kIllegalBreak : kIllegalContinue, Line(node));
    return false;
  }
  int at = Current().code.Emit(BC_JUMP, 0);
  Loop& loop = loops.back();
  int& head = isBreak ? loop.breaks : loop.continues;
  patches.push_back(Patch{at + 4, head});
  head = static_cast<int>(patches.size() - 1);
  return true;
}

bool gmCodeGenPrivate::GenIf(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  if (!GenExpression(Child(node, 0))) return false;
  int a = code.Emit(BC_JUMPZERO, 0);
  if (!GenStatementItem(Child(node, 1))) return false;
  if (!Child(node, 2)) {
    code.PatchOperand(a, static_cast<uint32_t>(code.Tell()));
    return true;
  }
  int b = code.Emit(BC_JUMP, 0);
  // The else part is a compound statement or a nested if; either is a one-node list.
  if (!GenStatementItem(Child(node, 2))) return false;
  code.PatchOperand(a, static_cast<uint32_t>(b + 8));
  code.PatchOperand(b, static_cast<uint32_t>(code.Tell()));
  return true;
}

bool gmCodeGenPrivate::GenWhile(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  PushLoop();
  int top = code.Tell();
  if (!GenExpression(Child(node, 0))) return false;
  int a = code.Emit(BC_JUMPZERO, 0);
  if (!GenStatementItem(Child(node, 1))) return false;
  code.Emit(BC_JUMP, static_cast<uint32_t>(top));
  int end = code.Tell();
  code.PatchOperand(a, static_cast<uint32_t>(end));
  PopLoop(end, top);
  return true;
}

bool gmCodeGenPrivate::GenDoWhile(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  PushLoop();
  int top = code.Tell();
  if (!GenStatementItem(Child(node, 1))) return false;
  int cont = code.Tell();
  if (!GenExpression(Child(node, 0))) return false;
  code.Emit(BC_JUMPNOTZERO, static_cast<uint32_t>(top));
  PopLoop(code.Tell(), cont);
  return true;
}

bool gmCodeGenPrivate::GenFor(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  if (Child(node, 0) && !GenStatementItem(Child(node, 0))) return false;
  PushLoop();
  int top = code.Tell();
  int a = -1;
  if (Child(node, 1)) {
    if (!GenExpression(Child(node, 1))) return false;
    a = code.Emit(BC_JUMPZERO, 0);
  }
  if (!GenStatementItem(Child(node, 3))) return false;
  int cont = code.Tell();
  if (Child(node, 2) && !GenStatementItem(Child(node, 2))) return false;
  code.Emit(BC_JUMP, static_cast<uint32_t>(top));
  int end = code.Tell();
  if (a >= 0) code.PatchOperand(a, static_cast<uint32_t>(end));
  PopLoop(end, cont);
  return true;
}

bool gmCodeGenPrivate::GenForEach(const gmCodeTreeNode* node) {
  const gmCodeTreeNode* value = Child(node, 1);
  const gmCodeTreeNode* key = Child(node, 2);
  if (!IsIdentifier(value) || (key && !IsIdentifier(key))) {
    Error(kInternalError, Line(node));
    return false;
  }
  if (!GenExpression(Child(node, 0))) return false;
  Context& c = Current();
  PushLoop();
  c.code.Emit(BC_PUSHINT, static_cast<uint32_t>(-2));  // the iteration cursor: "start"
  int cont = c.code.Tell();
  // Entering the names as locals overrides earlier global or member declarations.
  int keySlot = c.Declare(key ? Text(key) : "__t1", GMSC_LOCAL).slot;
  int valueSlot = c.Declare(Text(value), GMSC_LOCAL).slot;
  c.code.Emit(BC_FOREACH, (static_cast<uint32_t>(keySlot) << 16) | (static_cast<uint32_t>(valueSlot) & 0xffffu));
  int a = c.code.Emit(BC_JUMPZERO, 0);
  if (!GenStatementItem(Child(node, 3))) return false;
  c.code.Emit(BC_JUMP, static_cast<uint32_t>(cont));
  int end = c.code.Tell();
  c.code.PatchOperand(a, static_cast<uint32_t>(end));
  c.code.Emit(BC_POP2);  // cursor and table
  PopLoop(end, cont);
  return true;
}

// ---- expressions ----------------------------------------------------------------------------

bool gmCodeGenPrivate::GenExpression(const gmCodeTreeNode* node) {
  if (!node || Kind(node) != GMNK_EXPRESSION) {
    Error(kInternalError, node ? Line(node) : 0);
    return false;
  }
  switch (Sub(node)) {
    case GMET_OPERATION:
      return GenOperation(node);
    case GMET_CONSTANT:
      return GenConstant(node);
    case GMET_IDENTIFIER:
      return GenIdentifier(node);
    case GMET_THIS:
      Current().code.Emit(BC_PUSHTHIS);
      return true;
    case GMET_CALL:
      return GenCall(node);
    case GMET_FUNCTION:
      return GenFunction(node, nullptr);
    case GMET_TABLE:
      return GenTable(node);
  }
  Error(kInternalError, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenConstant(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  switch (Detail(node)) {
    case GMCT_INT: {
      int v = IntValue(node);
      if (v == 0)
        code.Emit(BC_PUSHINT0);
      else if (v == 1)
        code.Emit(BC_PUSHINT1);
      else
        code.Emit(BC_PUSHINT, static_cast<uint32_t>(v));
      return true;
    }
    case GMCT_FLOAT: {
      float f = FloatValue(node);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      code.Emit(BC_PUSHFLOAT, bits);
      return true;
    }
    case GMCT_STRING: {
      const char* text = Text(node);
      uint32_t ref = Current().Reference(hooks->GetStringConstant(text ? text : ""));
      code.Emit(BC_PUSHSTRING, ref);
      return true;
    }
    case GMCT_NULL:
      code.Emit(BC_PUSHNULL);
      return true;
  }
  Error(kUnknownConstant, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenIdentifier(const gmCodeTreeNode* node) {
  Context& c = Current();
  const char* name = Text(node);
  if (Flags(node) & GMNF_MEMBER) {
    c.code.Emit(BC_GETTHIS, Symbol(name));
    return true;
  }
  Variable* v = c.Find(name);
  if (!v || v->scope == GMSC_GLOBAL) {
    c.code.Emit(BC_GETGLOBAL, Symbol(name));
  } else if (v->scope == GMSC_LOCAL && v->slot >= 0) {
    c.code.Emit(BC_GETLOCAL, static_cast<uint32_t>(v->slot));
  } else if (v->scope == GMSC_MEMBER) {
    c.code.Emit(BC_GETTHIS, Symbol(name));
  } else {
    Error(kInternalError, Line(node));
    return false;
  }
  return true;
}

bool gmCodeGenPrivate::GenDot(const gmCodeTreeNode* node) {
  const gmCodeTreeNode* member = Child(node, 1);
  if (!IsIdentifier(member)) {
    Error(kIllegalDot, Line(node));
    return false;
  }
  if (!GenExpression(Child(node, 0))) return false;
  Current().code.Emit(BC_GETDOT, Symbol(Text(member)));
  return true;
}

bool gmCodeGenPrivate::GenLogical(const gmCodeTreeNode* node, gmByteCode jumpKeep) {
  gmByteCodeGen& code = Current().code;
  if (!GenExpression(Child(node, 0))) return false;
  int a = code.Emit(jumpKeep, 0);
  code.Emit(BC_POP);
  if (!GenExpression(Child(node, 1))) return false;
  code.PatchOperand(a, static_cast<uint32_t>(code.Tell()));
  return true;
}

bool gmCodeGenPrivate::GenOperation(const gmCodeTreeNode* node) {
  int op = Detail(node);
  switch (op) {
    case GMOP_DOT:
      return GenDot(node);
    case GMOP_AND:
      return GenLogical(node, BC_JUMPZEROKEEP);
    case GMOP_OR:
      return GenLogical(node, BC_JUMPNOTZEROKEEP);
    case GMOP_ASSIGN:
      return GenAssign(node);
    default:
      break;
  }

  static const struct {
    int first, last;
    const char* error;
    gmByteCode codes[6];
  } groups[] = {
      {GMOP_POS, GMOP_NOT, kUnknownOperator, {BC_POS, BC_NEG, BC_BITINV, BC_NOT}},
      {GMOP_INDEX, GMOP_INDEX, kUnknownOperator, {BC_GETIND}},
      {GMOP_MUL, GMOP_SUB, kUnknownArithmetic, {BC_MUL, BC_DIV, BC_MOD, BC_ADD, BC_SUB}},
      {GMOP_LT, GMOP_NEQ, kUnknownComparison, {BC_LT, BC_GT, BC_LTE, BC_GTE, BC_EQ, BC_NEQ}},
      {GMOP_BITOR, GMOP_BITAND, kUnknownBitwise, {BC_BITOR, BC_BITXOR, BC_BITAND}},
      {GMOP_SHL, GMOP_SHR, kUnknownShift, {BC_SHIFTLEFT, BC_SHIFTRIGHT}},
  };
  for (const auto& g : groups) {
    if (op < g.first || op > g.last) continue;
    bool unary = g.first == GMOP_POS;
    if (!GenExpression(Child(node, 0))) return false;
    if (!unary && !GenExpression(Child(node, 1))) return false;
    Current().code.Emit(g.codes[op - g.first]);
    return true;
  }
  Error(kUnknownOperator, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenAssign(const gmCodeTreeNode* node) {
  const gmCodeTreeNode* target = Child(node, 0);
  const gmCodeTreeNode* value = Child(node, 1);

  // In debug mode a function assigned to a name is called by that name.
  const char* debugName = nullptr;
  if (debug && IsFunction(value)) {
    if (IsIdentifier(target))
      debugName = Text(target);
    else if (IsOperation(target, GMOP_DOT) && IsIdentifier(Child(target, 1)))
      debugName = Text(Child(target, 1));
  }
  auto genValue = [&]() { return IsFunction(value) ? GenFunction(value, debugName) : GenExpression(value); };

  if (IsOperation(target, GMOP_DOT)) {
    const gmCodeTreeNode* member = Child(target, 1);
    if (!IsIdentifier(member)) {
      Error(kIllegalDot, Line(target));
      return false;
    }
    if (!GenExpression(Child(target, 0)) || !genValue()) return false;
    Current().code.Emit(BC_SETDOT, Symbol(Text(member)));
    return true;
  }
  if (IsOperation(target, GMOP_INDEX)) {
    if (!GenExpression(Child(target, 0)) || !GenExpression(Child(target, 1)) || !genValue()) return false;
    Current().code.Emit(BC_SETIND);
    return true;
  }
  if (IsIdentifier(target)) {
    if (!genValue()) return false;
    Context& c = Current();
    const char* name = Text(target);
    if (Flags(target) & GMNF_MEMBER) {
      c.code.Emit(BC_SETTHIS, Symbol(name));
      return true;
    }
    Variable* v = c.Find(name);
    // Assigning an undeclared name makes it a local from here to the end of the function.
    if (!v) v = &c.Declare(name, GMSC_LOCAL);
    if (v->scope == GMSC_LOCAL && v->slot >= 0) {
      c.code.Emit(BC_SETLOCAL, static_cast<uint32_t>(v->slot));
    } else if (v->scope == GMSC_GLOBAL) {
      c.code.Emit(BC_SETGLOBAL, Symbol(name));
    } else if (v->scope == GMSC_MEMBER) {
      c.code.Emit(BC_SETTHIS, Symbol(name));
    } else {
      Error(kInternalError, Line(target));
      return false;
    }
    return true;
  }
  Error(kIllegalLValue, Line(node));
  return false;
}

bool gmCodeGenPrivate::GenTable(const gmCodeTreeNode* node) {
  Current().code.Emit(BC_PUSHTABLE);
  int position = 0;
  for (const gmCodeTreeNode* field = Child(node, 0); field; field = Next(field)) {
    Current().code.Emit(BC_DUP);
    if (IsOperation(field, GMOP_FIELD)) {
      const gmCodeTreeNode* name = Child(field, 0);
      const gmCodeTreeNode* value = Child(field, 1);
      if (!IsIdentifier(name)) {
        Error(kInternalError, Line(field));
        return false;
      }
      const char* debugName = (debug && IsFunction(value)) ? Text(name) : nullptr;
      if (!(IsFunction(value) ? GenFunction(value, debugName) : GenExpression(value))) return false;
      Current().code.Emit(BC_SETDOT, Symbol(Text(name)));
    } else {
      Current().code.Emit(BC_PUSHINT, static_cast<uint32_t>(position++));
      if (!GenExpression(field)) return false;
      Current().code.Emit(BC_SETIND);
    }
  }
  return true;
}

bool gmCodeGenPrivate::GenCall(const gmCodeTreeNode* node) {
  gmByteCodeGen& code = Current().code;
  const gmCodeTreeNode* callee = Child(node, 0);
  const gmCodeTreeNode* object = Child(node, 2);
  int before = code.Depth();

  if (!object && IsOperation(callee, GMOP_DOT)) {
    // a.b(): this is a, the function is a's member b.
    const gmCodeTreeNode* member = Child(callee, 1);
    if (!IsIdentifier(member)) {
      Error(kIllegalDot, Line(callee));
      return false;
    }
    if (!GenExpression(Child(callee, 0))) return false;
    code.Emit(BC_DUP);
    code.Emit(BC_GETDOT, Symbol(Text(member)));
  } else {
    if (object) {
      // a:b(): this is a, the function is whatever the name b means here.
      if (!GenExpression(object)) return false;
    } else {
      bool member = false;
      if (IsIdentifier(callee)) {
        if (Flags(callee) & GMNF_MEMBER) {
          member = true;
        } else {
          Variable* v = Current().Find(Text(callee));
          member = v && v->scope == GMSC_MEMBER;
        }
      }
      code.Emit(member ? BC_PUSHTHIS : BC_PUSHNULL);
    }
    if (!GenExpression(callee)) return false;
  }

  uint32_t count = 0;
  for (const gmCodeTreeNode* arg = Child(node, 1); arg; arg = Next(arg)) {
    if (!GenExpression(arg)) return false;
    ++count;
  }
  code.Emit(BC_CALL, count);
  code.SetDepth(before + 1);
  return true;
}

bool gmCodeGenPrivate::GenFunction(const gmCodeTreeNode* node, const char* debugName) {
  gmFunctionObject* func = hooks->NewFunction();
  Current().code.Emit(BC_PUSHFUNCTION, Current().Reference(func));

  int line = Line(node);
  Context& c = PushContext();
  c.code.SetLine(line);
  int numParams = 0;
  for (const gmCodeTreeNode* p = Child(node, 0); p; p = Next(p)) {
    const gmCodeTreeNode* id = Child(p, 0);
    if (Kind(p) != GMNK_DECLARATION || Sub(p) != GMDT_PARAMETER || !IsIdentifier(id)) {
      Error(kInternalError, Line(p));
      return false;
    }
    // A repeated name keeps its first slot, so its slot falls behind its position.
    if (c.Declare(Text(id), GMSC_LOCAL).slot != numParams) {
      Error(kParameterDeclared, Line(p), Text(id));
      return false;
    }
    ++numParams;
  }
  // The body is a compound statement.
  const gmCodeTreeNode* body = Child(node, 1);
  if (body && !GenStatementItem(body)) return false;
  c.code.Emit(BC_RETURN);
  FinishFunction(func, false, numParams, debugName);
  PopContext();
  return true;
}
