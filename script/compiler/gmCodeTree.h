#ifndef GMCODETREE_H
#define GMCODETREE_H

// The syntax tree of one script text and the shared parser instance that builds it.
// Nodes and their texts live in storage owned by the parser; they stay valid from a
// successful Parse until the next Reset, which the machine calls once the code generator
// is done with the tree.

class gmLog;

enum gmNodeKind {
  GMNK_DECLARATION = 1,
  GMNK_STATEMENT = 2,
  GMNK_EXPRESSION = 3,
};

// Subtypes of GMNK_DECLARATION.
enum gmDeclarationType {
  GMDT_PARAMETER = 0,
  GMDT_VARIABLE = 1,
};

// Subtypes of GMNK_STATEMENT.
enum gmStatementType {
  GMST_RETURN = 1,
  GMST_BREAK = 2,
  GMST_CONTINUE = 3,
  GMST_FOR = 4,
  GMST_FOREACH = 5,
  GMST_WHILE = 6,
  GMST_DOWHILE = 7,
  GMST_IF = 8,
  GMST_COMPOUND = 9,
};

// Subtypes of GMNK_EXPRESSION.
enum gmExpressionType {
  GMET_OPERATION = 1,
  GMET_CONSTANT = 2,
  GMET_IDENTIFIER = 3,
  GMET_THIS = 4,
  GMET_CALL = 5,
  GMET_FUNCTION = 6,
  GMET_TABLE = 7,
};

// detail of a GMET_OPERATION node.
enum gmOperationType {
  GMOP_DOT = 1,
  GMOP_POS = 2,
  GMOP_NEG = 3,
  GMOP_BITINV = 4,
  GMOP_NOT = 5,
  GMOP_INDEX = 6,
  GMOP_MUL = 7,
  GMOP_DIV = 8,
  GMOP_REM = 9,
  GMOP_ADD = 10,
  GMOP_SUB = 11,
  GMOP_LT = 12,
  GMOP_GT = 13,
  GMOP_LTE = 14,
  GMOP_GTE = 15,
  GMOP_EQ = 16,
  GMOP_NEQ = 17,
  GMOP_AND = 18,
  GMOP_OR = 19,
  GMOP_BITOR = 20,
  GMOP_BITXOR = 21,
  GMOP_BITAND = 22,
  GMOP_SHL = 23,
  GMOP_SHR = 24,
  GMOP_ASSIGN = 25,
  GMOP_FIELD = 26,
};

// detail of a GMET_CONSTANT node.
enum gmConstantType {
  GMCT_INT = 1,
  GMCT_FLOAT = 2,
  GMCT_STRING = 3,
  GMCT_NULL = 4,
};

// detail of a GMDT_VARIABLE declaration.
enum gmScopeType {
  GMSC_LOCAL = 0,
  GMSC_GLOBAL = 1,
  GMSC_MEMBER = 2,
};

enum gmNodeFlag {
  GMNF_DISCARD = 1,  // expression statement: pop the value after evaluating it
  GMNF_MEMBER = 2,   // identifier written ".name": a member of this
};

struct gmCodeTreeNode {
  int kind;     // gmNodeKind
  int subtype;  // gmDeclarationType, gmStatementType or gmExpressionType, by kind
  int detail;   // gmOperationType, gmConstantType or gmScopeType, by subtype
  int flags;    // gmNodeFlag bits
  gmCodeTreeNode* children[4];
  gmCodeTreeNode* next;    // following node of a statement, argument, field or parameter list
  gmCodeTreeNode* parent;  // node whose child slot holds this one (not set on later list members)
  int line;
  // Nodes on the longest path down from here, counting the lists hanging from child slots;
  // never above gmCodeTree::MAX_DEPTH, so a recursive walk of the tree is bounded.
  int height;
  union {
    int intValue;      // int constants
    float floatValue;  // float constants
    const char* text;  // string constants (unescaped) and identifier names, NUL-terminated
  } data;
};

class gmCodeTree {
 public:
  enum {
    PARSE_OK = 0,
    PARSE_ERROR = 1,
    PARSE_STACK_OVERFLOW = 2,
  };

  // Deepest tree the parser builds. Deeper input (a long chain of binary operators, say)
  // is refused like a parser stack overflow, so walkers may recurse over the tree.
  enum { MAX_DEPTH = 4000 };

  // The one shared parser.
  static gmCodeTree& Get();

  // Parses a NUL-terminated text. Returns PARSE_OK, PARSE_ERROR after a syntax error, or
  // PARSE_STACK_OVERFLOW. Errors and warnings go to the log when one is given. A parse is
  // refused (PARSE_ERROR, nothing logged) while the tree of an earlier parse has not been
  // released with Reset.
  int Parse(const char* text, gmLog* log);

  // First statement of the top-level list, or nullptr when that list holds only empty
  // statements (or after a failed parse).
  gmCodeTreeNode* GetRoot() const;

  // Releases all nodes and texts of the last parse and allows the next one.
  void Reset();

  struct Impl;

 private:
  gmCodeTree();
  ~gmCodeTree();
  gmCodeTree(const gmCodeTree&) = delete;
  gmCodeTree& operator=(const gmCodeTree&) = delete;

  Impl* impl;
};

#endif
