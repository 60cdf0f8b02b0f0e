#include "script/compiler/gmDataCall.h"

#include <string>
#include <vector>

#include "script/compiler/gmCodeTree.h"

namespace {

// The callee as written: a name, or names joined by dots.
bool CalleeText(const gmCodeTreeNode* node, std::string* out) {
  if (!node || node->kind != GMNK_EXPRESSION) return false;
  if (node->subtype == GMET_IDENTIFIER && !(node->flags & GMNF_MEMBER)) {
    *out += node->data.text;
    return true;
  }
  if (node->subtype == GMET_OPERATION && node->detail == GMOP_DOT) {
    if (!CalleeText(node->children[0], out)) return false;
    *out += '.';
    return CalleeText(node->children[1], out);
  }
  return false;
}

bool IsNumber(const gmCodeTreeNode* node) {
  return node && node->kind == GMNK_EXPRESSION && node->subtype == GMET_CONSTANT &&
         (node->detail == GMCT_INT || node->detail == GMCT_FLOAT);
}

// Walks an argument list and everything below it with a stack of its own, so a deeply
// nested text costs heap, not C stack.
bool IsDataList(const gmCodeTreeNode* first) {
  std::vector<const gmCodeTreeNode*> todo;
  for (const gmCodeTreeNode* n = first; n; n = n->next) todo.push_back(n);
  while (!todo.empty()) {
    const gmCodeTreeNode* node = todo.back();
    todo.pop_back();
    if (!node || node->kind != GMNK_EXPRESSION) return false;
    switch (node->subtype) {
      case GMET_CONSTANT:
        break;
      case GMET_OPERATION:
        if (node->detail != GMOP_NEG || !IsNumber(node->children[0])) return false;
        break;
      case GMET_TABLE:
        for (const gmCodeTreeNode* field = node->children[0]; field; field = field->next) {
          if (field->kind == GMNK_EXPRESSION && field->subtype == GMET_OPERATION && field->detail == GMOP_FIELD) {
            const gmCodeTreeNode* name = field->children[0];
            if (!name || name->subtype != GMET_IDENTIFIER) return false;
            todo.push_back(field->children[1]);
          } else {
            todo.push_back(field);
          }
        }
        break;
      default:
        return false;
    }
  }
  return true;
}

}  // namespace

gmDataCallResult gmCheckDataCall(const char* a_text, const char* a_callee, gmLog* a_log) {
  gmCodeTree& tree = gmCodeTree::Get();
  if (tree.Parse(a_text, a_log) != gmCodeTree::PARSE_OK) {
    tree.Reset();
    return GM_NOT_SCRIPT;
  }
  const gmCodeTreeNode* root = tree.GetRoot();
  std::string callee;
  const bool data = root && !root->next && root->kind == GMNK_EXPRESSION && root->subtype == GMET_CALL &&
                    !root->children[2] && CalleeText(root->children[0], &callee) && callee == a_callee &&
                    IsDataList(root->children[1]);
  tree.Reset();
  return data ? GM_DATA_CALL : GM_MORE_THAN_DATA;
}
