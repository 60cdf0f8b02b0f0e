#ifndef GMCODETREEBUILD_H
#define GMCODETREEBUILD_H

// The parser's private side of gmCodeTree: node storage, texts, the line counter and the
// node builders the grammar's actions call. Nothing outside script/compiler includes it.

#include "script/compiler/gmCodeTree.h"

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

class gmLog;

// A statement, argument, field or parameter list while it is being built. height is the
// largest height of its members, so attaching the list to a node costs nothing extra.
struct gmTreeList {
  gmCodeTreeNode* head;
  gmCodeTreeNode* tail;
  int height;
};

struct gmCodeTree::Impl {
  Impl();
  ~Impl();

  // Nodes are carved from 4096-byte blocks; Reset rewinds and keeps the blocks.
  enum { NODE_BLOCK = 4096 };
  std::vector<char*> blocks;
  size_t blockIndex = 0;  // block being filled
  size_t blockUsed = 0;   // bytes used in it

  // Token texts and string constants. A deque never moves its elements, so node pointers
  // into them stay valid while more are added.
  std::deque<std::string> texts;

  gmLog* log = nullptr;
  int line = 1;
  gmCodeTreeNode* root = nullptr;
  bool open = false;        // a parse happened and Reset has not been called yet
  void* scanner = nullptr;  // the scanner of the running parse

  void Rewind();

  // Scanner side.
  void CountLines(const char* text, size_t length);
  std::string* Text(const char* text, size_t length);

  // Logging: "error (%d) %s" with the current line.
  void Error(const char* message);

  // Node building.
  gmCodeTreeNode* NewNode(int kind, int subtype, int detail = 0);
  void SetChild(gmCodeTreeNode* node, int slot, gmCodeTreeNode* child);
  void SetChildList(gmCodeTreeNode* node, int slot, const gmTreeList& list);
  static gmTreeList ListStart(gmCodeTreeNode* nodes);
  static gmTreeList ListAppend(gmTreeList list, gmCodeTreeNode* nodes);

  gmCodeTreeNode* Statement(int type);
  gmCodeTreeNode* Declaration(int type, int scope, gmCodeTreeNode* identifier);
  gmCodeTreeNode* Operation(int op, gmCodeTreeNode* left, gmCodeTreeNode* right);
  gmCodeTreeNode* Identifier(const std::string* name);
  gmCodeTreeNode* Expression(int type);

  gmCodeTreeNode* IntConstant(int value);
  gmCodeTreeNode* NullConstant();
  gmCodeTreeNode* HexConstant(const std::string* raw, int base);
  gmCodeTreeNode* DecimalConstant(const std::string* raw);
  gmCodeTreeNode* FloatConstant(const std::string* raw);
  gmCodeTreeNode* CharConstant(const std::string* raw);
  gmCodeTreeNode* StringConstant(const std::string* text);

  // Adjacent string tokens: the first is unescaped into a new text, later ones are
  // appended raw and only the appended part is unescaped.
  std::string* StringStart(const std::string* raw);
  void StringAppend(std::string* text, const std::string* raw);
};

// Runs the generated scanner and parser over a text; returns the parser's result.
int gmRunParser(gmCodeTree::Impl* ctx, const char* text);

#endif
