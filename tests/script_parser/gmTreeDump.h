#ifndef GMTREEDUMP_H
#define GMTREEDUMP_H

#include <string>

struct gmCodeTreeNode;

// One-line S-expression of a node list, e.g. "(= x 7) (if c (block (call f);))".
// A trailing ';' marks the discard flag, a leading '.' a member identifier.
std::string gmTreeDump(const gmCodeTreeNode* list);

// Token numbers as names: "IDENTIFIER", "CONSTANT_INT", "';'".
std::string gmTokenName(int token);

#endif
