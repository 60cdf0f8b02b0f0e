#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmCodeTreeBuild.h"
#include "script/compiler/gmLog.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------------------------------
// The shared instance

gmCodeTree& gmCodeTree::Get() {
  static gmCodeTree tree;
  return tree;
}

gmCodeTree::gmCodeTree() : impl(new Impl) {}

gmCodeTree::~gmCodeTree() { delete impl; }

int gmCodeTree::Parse(const char* text, gmLog* log) {
  if (impl->open) return PARSE_ERROR;
  impl->open = true;
  impl->log = log;
  impl->line = 1;
  impl->root = nullptr;
  int result = gmRunParser(impl, text ? text : "");
  if (result != PARSE_OK) {
    impl->root = nullptr;
    result = result == 2 ? PARSE_STACK_OVERFLOW : PARSE_ERROR;
  }
  impl->log = nullptr;
  return result;
}

gmCodeTreeNode* gmCodeTree::GetRoot() const { return impl->root; }

void gmCodeTree::Reset() {
  impl->Rewind();
  impl->open = false;
}

// ---------------------------------------------------------------------------------------
// Storage

gmCodeTree::Impl::Impl() = default;

gmCodeTree::Impl::~Impl() {
  for (char* block : blocks) std::free(block);
}

void gmCodeTree::Impl::Rewind() {
  blockIndex = 0;
  blockUsed = 0;
  texts.clear();
  root = nullptr;
}

void gmCodeTree::Impl::CountLines(const char* text, size_t length) {
  for (const char* end = text + length;
       (text = static_cast<const char*>(std::memchr(text, '\n', end - text))) != nullptr; ++text)
    ++line;
}

std::string* gmCodeTree::Impl::Text(const char* text, size_t length) {
  texts.emplace_back(text, length);
  return &texts.back();
}

void gmCodeTree::Impl::Error(const char* message) {
  if (log) log->LogEntry("error (%d) %s", line, message);
}

gmCodeTreeNode* gmCodeTree::Impl::NewNode(int kind, int subtype, int detail) {
  static_assert(sizeof(gmCodeTreeNode) <= NODE_BLOCK, "node larger than a block");
  if (blockIndex < blocks.size() && blockUsed + sizeof(gmCodeTreeNode) > NODE_BLOCK) {
    ++blockIndex;
    blockUsed = 0;
  }
  if (blockIndex == blocks.size()) {
    char* block = static_cast<char*>(std::malloc(NODE_BLOCK));
    if (!block) std::abort();
    blocks.push_back(block);
    blockUsed = 0;
  }
  gmCodeTreeNode* node = reinterpret_cast<gmCodeTreeNode*>(blocks[blockIndex] + blockUsed);
  blockUsed += sizeof(gmCodeTreeNode);
  std::memset(node, 0, sizeof(*node));
  node->kind = kind;
  node->subtype = subtype;
  node->detail = detail;
  node->line = line;
  node->height = 1;
  return node;
}

void gmCodeTree::Impl::SetChild(gmCodeTreeNode* node, int slot, gmCodeTreeNode* child) {
  node->children[slot] = child;
  if (!child) return;
  child->parent = node;
  if (child->height + 1 > node->height) node->height = child->height + 1;
}

void gmCodeTree::Impl::SetChildList(gmCodeTreeNode* node, int slot, const gmTreeList& list) {
  SetChild(node, slot, list.head);
  if (list.head && list.height + 1 > node->height) node->height = list.height + 1;
}

gmTreeList gmCodeTree::Impl::ListStart(gmCodeTreeNode* nodes) {
  gmTreeList list = {nullptr, nullptr, 0};
  return ListAppend(list, nodes);
}

// nodes may be empty (an empty statement) or a short chain (a declaration with its
// initialising assignment).
gmTreeList gmCodeTree::Impl::ListAppend(gmTreeList list, gmCodeTreeNode* nodes) {
  if (!nodes) return list;
  if (list.tail)
    list.tail->next = nodes;
  else
    list.head = nodes;
  for (;;) {
    if (nodes->height > list.height) list.height = nodes->height;
    if (!nodes->next) break;
    nodes = nodes->next;
  }
  list.tail = nodes;
  return list;
}

// ---------------------------------------------------------------------------------------
// Node builders

gmCodeTreeNode* gmCodeTree::Impl::Statement(int type) { return NewNode(GMNK_STATEMENT, type); }

gmCodeTreeNode* gmCodeTree::Impl::Expression(int type) { return NewNode(GMNK_EXPRESSION, type); }

gmCodeTreeNode* gmCodeTree::Impl::Declaration(int type, int scope, gmCodeTreeNode* identifier) {
  gmCodeTreeNode* node = NewNode(GMNK_DECLARATION, type, scope);
  SetChild(node, 0, identifier);
  return node;
}

gmCodeTreeNode* gmCodeTree::Impl::Identifier(const std::string* name) {
  gmCodeTreeNode* node = Expression(GMET_IDENTIFIER);
  node->data.text = name->c_str();
  return node;
}

static bool IsConstant(const gmCodeTreeNode* node, int type) {
  return node && node->kind == GMNK_EXPRESSION && node->subtype == GMET_CONSTANT && node->detail == type;
}

static void BecomeInt(gmCodeTreeNode* node, int value) {
  node->subtype = GMET_CONSTANT;
  node->detail = GMCT_INT;
  node->children[0] = node->children[1] = nullptr;
  node->height = 1;
  node->data.intValue = value;
}

static void BecomeFloat(gmCodeTreeNode* node, float value) {
  BecomeInt(node, 0);
  node->detail = GMCT_FLOAT;
  node->data.floatValue = value;
}

// Folds an operation on constant operands into a constant, where the rules allow it.
// Integer arithmetic wraps at 32 bits, as it does in the machine.
static void Fold(gmCodeTreeNode* node) {
  const gmCodeTreeNode* a = node->children[0];
  const gmCodeTreeNode* b = node->children[1];
  int op = node->detail;

  if (op == GMOP_POS || op == GMOP_NEG || op == GMOP_BITINV || op == GMOP_NOT) {
    if (IsConstant(a, GMCT_INT)) {
      uint32_t v = uint32_t(a->data.intValue);
      switch (op) {
        case GMOP_POS:
          BecomeInt(node, int(v));
          break;
        case GMOP_NEG:
          BecomeInt(node, int(0u - v));
          break;
        case GMOP_BITINV:
          BecomeInt(node, int(~v));
          break;
        default:
          BecomeInt(node, v == 0 ? 1 : 0);
          break;
      }
    } else if (IsConstant(a, GMCT_FLOAT) && (op == GMOP_POS || op == GMOP_NEG)) {
      float v = a->data.floatValue;
      BecomeFloat(node, op == GMOP_NEG ? -v : v);
    }
    return;
  }

  bool aInt = IsConstant(a, GMCT_INT), bInt = IsConstant(b, GMCT_INT);
  bool aFloat = IsConstant(a, GMCT_FLOAT), bFloat = IsConstant(b, GMCT_FLOAT);
  if (!(aInt || aFloat) || !(bInt || bFloat)) return;

  switch (op) {
    case GMOP_MUL:
    case GMOP_DIV:
    case GMOP_REM:
    case GMOP_ADD:
    case GMOP_SUB:
      if (aInt && bInt) {
        int32_t x = a->data.intValue, y = b->data.intValue;
        uint32_t ux = uint32_t(x), uy = uint32_t(y);
        if ((op == GMOP_DIV || op == GMOP_REM) && (y == 0 || (x == INT32_MIN && y == -1)))
          return;  // left for the machine to decide at run time
        switch (op) {
          case GMOP_MUL:
            BecomeInt(node, int(ux * uy));
            break;
          case GMOP_DIV:
            BecomeInt(node, x / y);
            break;
          case GMOP_REM:
            BecomeInt(node, x % y);
            break;
          case GMOP_ADD:
            BecomeInt(node, int(ux + uy));
            break;
          default:
            BecomeInt(node, int(ux - uy));
            break;
        }
      } else {
        float x = aInt ? float(a->data.intValue) : a->data.floatValue;
        float y = bInt ? float(b->data.intValue) : b->data.floatValue;
        switch (op) {
          case GMOP_MUL:
            BecomeFloat(node, x * y);
            break;
          case GMOP_DIV:
            if (y == 0.0f) return;
            BecomeFloat(node, x / y);
            break;
          case GMOP_REM:
            BecomeFloat(node, std::fmod(x, y));
            break;
          case GMOP_ADD:
            BecomeFloat(node, x + y);
            break;
          default:
            BecomeFloat(node, x - y);
            break;
        }
      }
      return;
    case GMOP_BITOR:
    case GMOP_BITXOR:
    case GMOP_BITAND:
    case GMOP_SHL:
    case GMOP_SHR:
      if (aInt && bInt) {
        int32_t x = a->data.intValue, y = b->data.intValue;
        switch (op) {
          case GMOP_BITOR:
            BecomeInt(node, x | y);
            break;
          case GMOP_BITXOR:
            BecomeInt(node, x ^ y);
            break;
          case GMOP_BITAND:
            BecomeInt(node, x & y);
            break;
          case GMOP_SHL:
            BecomeInt(node, int(uint32_t(x) << (y & 31)));
            break;
          default:
            BecomeInt(node, x >> (y & 31));
            break;
        }
      }
      return;
    default:
      return;  // comparisons, logic, member access, index, assignment: never folded
  }
}

gmCodeTreeNode* gmCodeTree::Impl::Operation(int op, gmCodeTreeNode* left, gmCodeTreeNode* right) {
  gmCodeTreeNode* node = NewNode(GMNK_EXPRESSION, GMET_OPERATION, op);
  SetChild(node, 0, left);
  SetChild(node, 1, right);
  Fold(node);
  return node;
}

// ---------------------------------------------------------------------------------------
// Constants

gmCodeTreeNode* gmCodeTree::Impl::IntConstant(int value) {
  gmCodeTreeNode* node = NewNode(GMNK_EXPRESSION, GMET_CONSTANT, GMCT_INT);
  node->data.intValue = value;
  return node;
}

gmCodeTreeNode* gmCodeTree::Impl::NullConstant() { return NewNode(GMNK_EXPRESSION, GMET_CONSTANT, GMCT_NULL); }

// Digits converted as an unsigned 32-bit number that saturates, then stored as an int.
static int SaturatingUnsigned(const char* digits, int base) {
  uint64_t value = 0;
  for (; *digits; ++digits) {
    char c = *digits;
    int d = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * base + d;
    if (value > UINT32_MAX) {
      value = UINT32_MAX;
      break;
    }
  }
  return int(uint32_t(value));
}

gmCodeTreeNode* gmCodeTree::Impl::HexConstant(const std::string* raw, int base) {
  return IntConstant(SaturatingUnsigned(raw->c_str() + 2, base));
}

// Decimal digits beyond the 32-bit range saturate the same way as hex and binary digits, so
// 2147483648 is the minimum int (and -2147483648 folds to it) and anything larger is -1.
gmCodeTreeNode* gmCodeTree::Impl::DecimalConstant(const std::string* raw) {
  return IntConstant(SaturatingUnsigned(raw->c_str(), 10));
}

gmCodeTreeNode* gmCodeTree::Impl::FloatConstant(const std::string* raw) {
  gmCodeTreeNode* node = NewNode(GMNK_EXPRESSION, GMET_CONSTANT, GMCT_FLOAT);
  node->data.floatValue = float(std::strtod(raw->c_str(), nullptr));
  return node;
}

static char EscapedChar(char c) {
  switch (c) {
    case 'a':
      return 7;
    case 'b':
      return 8;
    case 'f':
      return 12;
    case 'n':
      return 10;
    case 'r':
      return 13;
    case 't':
      return 9;
    case 'v':
      return 11;
    default:
      return c;  // quotes, backslash and anything else stand for themselves
  }
}

gmCodeTreeNode* gmCodeTree::Impl::CharConstant(const std::string* raw) {
  // The scanner guarantees the quotes and that no backslash comes last.
  uint32_t value = 0;
  int items = 0;
  for (size_t i = 1; i + 1 < raw->size(); ++i, ++items) {
    char c = (*raw)[i];
    if (c == '\\') c = EscapedChar((*raw)[++i]);
    value = (value << 8) | static_cast<unsigned char>(c);
  }
  if (items > 4 && log) log->LogEntry("truncated char, line %d", line);
  return IntConstant(int(value));
}

gmCodeTreeNode* gmCodeTree::Impl::StringConstant(const std::string* text) {
  gmCodeTreeNode* node = NewNode(GMNK_EXPRESSION, GMET_CONSTANT, GMCT_STRING);
  node->data.text = text->c_str();
  return node;
}

// Appends the unescaped text of one string token.
static void UnescapeString(const std::string& raw, std::string& out) {
  size_t n = raw.size();
  if (raw[0] == '`') {
    // Between the quotes only doubled back quotes occur; each stands for one.
    for (size_t i = 1; i + 1 < n; ++i) {
      out += raw[i];
      if (raw[i] == '`') ++i;
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    char c = raw[i];
    if (c == '"') continue;
    if (c != '\\' || i + 1 >= n) {
      out += c;
      continue;
    }
    c = raw[++i];
    if (c >= '0' && c <= '9') {
      // Up to three decimal digits give one byte.
      unsigned value = 0;
      for (int k = 0; k < 3 && i < n && raw[i] >= '0' && raw[i] <= '9'; ++k, ++i)
        value = value * 10 + unsigned(raw[i] - '0');
      --i;
      out += char(value & 0xff);
      continue;
    }
    out += EscapedChar(c);
  }
}

std::string* gmCodeTree::Impl::StringStart(const std::string* raw) {
  std::string* text = Text("", 0);
  UnescapeString(*raw, *text);
  return text;
}

void gmCodeTree::Impl::StringAppend(std::string* text, const std::string* raw) { UnescapeString(*raw, *text); }
