#ifndef GMCODEGEN_H
#define GMCODEGEN_H

// Turns a syntax tree into byte code functions: one per function constructor plus "__main"
// for the top-level statements. There is one shared code generator; a compile started while
// another one runs is refused.

struct gmCodeTreeNode;
class gmCodeGenHooks;
class gmLog;

class gmCodeGen {
 public:
  static gmCodeGen& Get();

  virtual ~gmCodeGen() {}

  // Compiles the statement list starting at `root` (null compiles an empty "__main").
  // Objects come from and functions go to `hooks`; error messages go to `log` (may be null).
  // Returns the number of errors: 0, or 1 after the first error, which ends the compile.
  virtual int Compile(const gmCodeTreeNode* root, gmCodeGenHooks* hooks, bool debug, gmLog* log) = 0;
  // Clears the compile contexts for reuse.
  virtual void Reset() = 0;
};

#endif
