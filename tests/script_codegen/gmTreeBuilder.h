#ifndef GMTREEBUILDER_H
#define GMTREEBUILDER_H

// Builds syntax trees by hand, for the trees the parser never makes (unknown operators and
// constant types, a dot whose right side is not a name) and for tests that must not depend
// on the parser.

#include <deque>
#include <initializer_list>
#include <string>

#include "script/compiler/gmCodeTree.h"

class gmTreeBuilder {
 public:
  gmCodeTreeNode* Node(int kind, int subtype, int detail = 0, int line = 1) {
    nodes.emplace_back();
    gmCodeTreeNode* n = &nodes.back();
    *n = gmCodeTreeNode{};
    n->kind = kind;
    n->subtype = subtype;
    n->detail = detail;
    n->line = line;
    return n;
  }
  gmCodeTreeNode* Id(const char* name, int line = 1) {
    gmCodeTreeNode* n = Node(GMNK_EXPRESSION, GMET_IDENTIFIER, 0, line);
    texts.emplace_back(name);
    n->data.text = texts.back().c_str();
    return n;
  }
  gmCodeTreeNode* Int(int v, int line = 1) {
    gmCodeTreeNode* n = Node(GMNK_EXPRESSION, GMET_CONSTANT, GMCT_INT, line);
    n->data.intValue = v;
    return n;
  }
  gmCodeTreeNode* Op(int op, gmCodeTreeNode* a, gmCodeTreeNode* b = nullptr, int line = 1) {
    gmCodeTreeNode* n = Node(GMNK_EXPRESSION, GMET_OPERATION, op, line);
    Set(n, 0, a);
    Set(n, 1, b);
    return n;
  }
  gmCodeTreeNode* Stmt(int type, std::initializer_list<gmCodeTreeNode*> children, int line = 1) {
    gmCodeTreeNode* n = Node(GMNK_STATEMENT, type, 0, line);
    int i = 0;
    for (gmCodeTreeNode* c : children) Set(n, i++, c);
    return n;
  }
  // Chains nodes as a list through their next links and returns the first.
  static gmCodeTreeNode* List(std::initializer_list<gmCodeTreeNode*> items) {
    gmCodeTreeNode* prev = nullptr;
    gmCodeTreeNode* first = nullptr;
    for (gmCodeTreeNode* n : items) {
      if (prev)
        prev->next = n;
      else
        first = n;
      prev = n;
    }
    return first;
  }
  static gmCodeTreeNode* Discard(gmCodeTreeNode* n) {
    n->flags |= GMNF_DISCARD;
    return n;
  }

 private:
  static void Set(gmCodeTreeNode* n, int slot, gmCodeTreeNode* child) {
    n->children[slot] = child;
    if (child) child->parent = n;
  }

  std::deque<gmCodeTreeNode> nodes;
  std::deque<std::string> texts;
};

#endif
