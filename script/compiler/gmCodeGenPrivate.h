#ifndef GMCODEGENPRIVATE_H
#define GMCODEGENPRIVATE_H

// The code generator proper. Identifiers are resolved at compile time against the variable
// table of the function being compiled only: a name is a local with a slot, a global, or a
// member of `this`. Nested function constructors get a context of their own and see nothing
// of the enclosing function (there are no closures).
//
// Control flow uses absolute byte offsets. Forward jumps are emitted with a placeholder and
// patched once their target is known; break and continue jumps are chained through a shared
// patch list per loop and filled in when the loop ends.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "script/compiler/gmByteCodeGen.h"
#include "script/compiler/gmCodeGen.h"

class gmObject;

class gmCodeGenPrivate : public gmCodeGen {
 public:
  int Compile(const gmCodeTreeNode* root, gmCodeGenHooks* hooks, bool debug, gmLog* log) override;
  void Reset() override;

 private:
  struct Variable {
    std::string name;
    int scope;
    int slot;  // -1 when the name has no slot
  };

  // Everything about one function being compiled.
  struct Context {
    gmByteCodeGen code;
    std::vector<Variable> variables;
    std::unordered_map<std::string, size_t> variableIndex;  // name -> index in variables
    int numSlots = 0;
    std::vector<gmObject*> references;
    std::unordered_map<gmObject*, uint32_t> referenceIndex;
    // Line of the last `line` instruction of this function, so each source line announces
    // itself once per run of statements.
    int lastLine = 0;

    void Reset(bool debug);
    Variable* Find(const char* name);
    // Enters a name with a scope; a local gets a slot if it has none. Returns the entry.
    Variable& Declare(const char* name, int scope);
    // Index of the object in the reference array, adding it when new.
    uint32_t Reference(gmObject* object);
  };

  struct Loop {
    int breaks;     // head of the break patch list, -1 when empty
    int continues;  // head of the continue patch list
    int context;    // depth of the function the loop belongs to
  };

  // A finished function's description, owned until the compile has succeeded.
  struct Finished {
    gmFunctionObject* func = nullptr;
    bool root = false;
    std::vector<unsigned char> code;
    int numParams = 0;
    int numLocals = 0;
    int maxStackSize = 0;
    std::vector<gmObject*> references;
    std::vector<std::string> symbols;  // debug mode: names by slot
    std::vector<bool> hasSymbol;
    std::vector<gmLineInfo> lines;  // debug mode
    std::string name;
    bool hasName = false;
  };

  struct Patch {
    int position;  // byte position of the operand word to fill
    int next;
  };

  Context& Current() { return *contexts[depth - 1]; }
  Context& PushContext();
  void PopContext();

  // Logs one error. Texts carrying "%d" get the line; "%s" gets `name`.
  void Error(const char* message, int line, const char* name = nullptr);

  // A list follows next links; an item is one node in statement position (a loop body, an
  // initialiser), compiled the same way but without its siblings.
  bool GenStatementList(const gmCodeTreeNode* node);
  bool GenStatementItem(const gmCodeTreeNode* node);
  bool GenNode(const gmCodeTreeNode* node);
  bool GenDeclaration(const gmCodeTreeNode* node);
  bool GenStatement(const gmCodeTreeNode* node);
  bool GenExpression(const gmCodeTreeNode* node);

  bool GenReturn(const gmCodeTreeNode* node);
  bool GenJumpOut(const gmCodeTreeNode* node, bool isBreak);
  bool GenIf(const gmCodeTreeNode* node);
  bool GenWhile(const gmCodeTreeNode* node);
  bool GenDoWhile(const gmCodeTreeNode* node);
  bool GenFor(const gmCodeTreeNode* node);
  bool GenForEach(const gmCodeTreeNode* node);

  bool GenOperation(const gmCodeTreeNode* node);
  bool GenConstant(const gmCodeTreeNode* node);
  bool GenIdentifier(const gmCodeTreeNode* node);
  bool GenDot(const gmCodeTreeNode* node);
  bool GenLogical(const gmCodeTreeNode* node, gmByteCode jumpKeep);
  bool GenAssign(const gmCodeTreeNode* node);
  bool GenTable(const gmCodeTreeNode* node);
  bool GenCall(const gmCodeTreeNode* node);
  bool GenFunction(const gmCodeTreeNode* node, const char* debugName);

  void PushLoop();
  // Fills the innermost loop's break and continue jumps and drops the loop.
  void PopLoop(int breakTarget, int continueTarget);
  void FillPatches(int head, int target);

  // Finishes the current context's function and keeps its description until HandOver.
  void FinishFunction(gmFunctionObject* func, bool root, int numParams, const char* name);
  // Gives every finished function to the hooks, innermost first, "__main" last.
  bool HandOver();

  uint32_t Symbol(const char* text);

  std::vector<std::unique_ptr<Context>> contexts;  // pooled; the first `depth` are in use
  int depth = 0;
  std::vector<Loop> loops;
  std::vector<Patch> patches;
  std::vector<Finished> finished;

  gmCodeGenHooks* hooks = nullptr;
  gmLog* log = nullptr;
  bool debug = false;
  bool busy = false;
};

#endif
