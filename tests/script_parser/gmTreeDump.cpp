#include "gmTreeDump.h"

#include "script/compiler/gmCodeTree.h"

#include <cstdio>

static const char* const s_keywords[] = {
    "KEYWORD_LOCAL",    "KEYWORD_GLOBAL",    "KEYWORD_MEMBER",    "KEYWORD_AND",        "KEYWORD_OR",
    "KEYWORD_IF",       "KEYWORD_ELSE",      "KEYWORD_WHILE",     "KEYWORD_FOR",        "KEYWORD_FOREACH",
    "KEYWORD_IN",       "KEYWORD_BREAK",     "KEYWORD_CONTINUE",  "KEYWORD_NULL",       "KEYWORD_DOWHILE",
    "KEYWORD_RETURN",   "KEYWORD_FUNCTION",  "KEYWORD_TABLE",     "KEYWORD_THIS",       "KEYWORD_TRUE",
    "KEYWORD_FALSE",    "IDENTIFIER",        "CONSTANT_HEX",      "CONSTANT_BINARY",    "CONSTANT_INT",
    "CONSTANT_CHAR",    "CONSTANT_FLOAT",    "CONSTANT_STRING",   "SYMBOL_ASGN_BSR",    "SYMBOL_ASGN_BSL",
    "SYMBOL_ASGN_ADD",  "SYMBOL_ASGN_MINUS", "SYMBOL_ASGN_TIMES", "SYMBOL_ASGN_DIVIDE", "SYMBOL_ASGN_REM",
    "SYMBOL_ASGN_BAND", "SYMBOL_ASGN_BOR",   "SYMBOL_ASGN_BXOR",  "SYMBOL_RIGHT_SHIFT", "SYMBOL_LEFT_SHIFT",
    "SYMBOL_LTE",       "SYMBOL_GTE",        "SYMBOL_EQ",         "SYMBOL_NEQ",         "TOKEN_ERROR",
};

std::string gmTokenName(int token) {
  if (token >= 258 && token <= 302) return s_keywords[token - 258];
  if (token > 0 && token < 256) return std::string("'") + char(token) + "'";
  return "?" + std::to_string(token);
}

static const char* const s_operators[] = {
    "?",  ".",  "+u", "-u", "~",   "!",  "[]", "*", "/", "%",  "+",  "-", "<",     ">",
    "<=", ">=", "==", "!=", "and", "or", "|",  "^", "&", "<<", ">>", "=", "field",
};

static const char* const s_statements[] = {
    "?", "return", "break", "continue", "for", "foreach", "while", "dowhile", "if", "block",
};

static void DumpList(const gmCodeTreeNode* node, std::string& out);

static void DumpNode(const gmCodeTreeNode* node, std::string& out) {
  if (!node) {
    out += "_";
    return;
  }
  auto children = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      out += ' ';
      DumpList(node->children[i], out);
    }
  };
  switch (node->kind) {
    case GMNK_DECLARATION:
      if (node->subtype == GMDT_PARAMETER) {
        out += "(param ";
        DumpNode(node->children[0], out);
        if (node->children[1]) children(1, 2);
      } else {
        static const char* const scopes[] = {"(local ", "(global ", "(member "};
        out += node->detail >= 0 && node->detail <= 2 ? scopes[node->detail] : "(scope? ";
        DumpNode(node->children[0], out);
      }
      out += ')';
      break;
    case GMNK_STATEMENT:
      out += '(';
      out += node->subtype >= 1 && node->subtype <= 9 ? s_statements[node->subtype] : "?";
      if (node->subtype == GMST_COMPOUND) {
        for (const gmCodeTreeNode* s = node->children[0]; s; s = s->next) {
          out += ' ';
          DumpNode(s, out);
        }
      } else {
        int last = 4;
        while (last > 0 && !node->children[last - 1]) --last;
        children(0, last);
      }
      out += ')';
      break;
    case GMNK_EXPRESSION:
      switch (node->subtype) {
        case GMET_OPERATION:
          out += '(';
          out += node->detail >= 1 && node->detail <= 26 ? s_operators[node->detail] : "?";
          children(0, node->children[1] ? 2 : 1);
          out += ')';
          break;
        case GMET_CONSTANT: {
          char buffer[64];
          switch (node->detail) {
            case GMCT_INT:
              std::snprintf(buffer, sizeof buffer, "%d", node->data.intValue);
              out += buffer;
              break;
            case GMCT_FLOAT:
              std::snprintf(buffer, sizeof buffer, "%gf", double(node->data.floatValue));
              out += buffer;
              break;
            case GMCT_NULL:
              out += "null";
              break;
            case GMCT_STRING:
              out += '"';
              for (const char* p = node->data.text; *p; ++p) {
                unsigned char c = static_cast<unsigned char>(*p);
                if (c == '\n')
                  out += "\\n";
                else if (c == '"' || c == '\\')
                  (out += '\\') += char(c);
                else if (c < 32 || c > 126) {
                  std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
                  out += buffer;
                } else
                  out += char(c);
              }
              out += '"';
              break;
            default:
              out += "const?";
              break;
          }
          break;
        }
        case GMET_IDENTIFIER:
          if (node->flags & GMNF_MEMBER) out += '.';
          out += node->data.text;
          break;
        case GMET_THIS:
          out += "this";
          break;
        case GMET_CALL:
          out += "(call";
          if (node->children[2]) {
            out += " :";
            DumpNode(node->children[2], out);
          }
          children(0, 1);
          for (const gmCodeTreeNode* a = node->children[1]; a; a = a->next) {
            out += ' ';
            DumpNode(a, out);
          }
          out += ')';
          break;
        case GMET_FUNCTION:
          out += "(function (";
          for (const gmCodeTreeNode* p = node->children[0]; p; p = p->next) {
            if (p != node->children[0]) out += ' ';
            DumpNode(p, out);
          }
          out += ')';
          children(1, 2);
          out += ')';
          break;
        case GMET_TABLE:
          out += "(table";
          for (const gmCodeTreeNode* f = node->children[0]; f; f = f->next) {
            out += ' ';
            DumpNode(f, out);
          }
          out += ')';
          break;
        default:
          out += "expr?";
          break;
      }
      break;
    default:
      out += "kind?";
      break;
  }
  if (node->flags & GMNF_DISCARD) out += ';';
}

// A node in a child slot that heads a list is shown as [a b] when it has followers.
static void DumpList(const gmCodeTreeNode* node, std::string& out) {
  if (!node || !node->next) {
    DumpNode(node, out);
    return;
  }
  out += '[';
  for (const gmCodeTreeNode* n = node; n; n = n->next) {
    if (n != node) out += ' ';
    DumpNode(n, out);
  }
  out += ']';
}

std::string gmTreeDump(const gmCodeTreeNode* list) {
  std::string out;
  for (const gmCodeTreeNode* n = list; n; n = n->next) {
    if (n != list) out += ' ';
    DumpNode(n, out);
  }
  return out;
}
