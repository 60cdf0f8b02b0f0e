#include "script/vm/gmErrorHints.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "script/compiler/gmByteCode.h"
#include "script/values/gmFunctionObject.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/vm/gmMachine.h"

int gmEditDistance(const char* a_a, const char* a_b, int a_limit) {
  const size_t n = std::strlen(a_a), m = std::strlen(a_b);
  if ((n > m ? n - m : m - n) > static_cast<size_t>(a_limit)) return a_limit + 1;
  std::vector<int> row(m + 1), next(m + 1);
  for (size_t j = 0; j <= m; ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= n; ++i) {
    next[0] = static_cast<int>(i);
    int best = next[0];
    for (size_t j = 1; j <= m; ++j) {
      const int replace = row[j - 1] + (a_a[i - 1] == a_b[j - 1] ? 0 : 1);
      int value = row[j] + 1 < next[j - 1] + 1 ? row[j] + 1 : next[j - 1] + 1;
      if (replace < value) value = replace;
      next[j] = value;
      if (value < best) best = value;
    }
    // Every later row is at least the smallest entry of this one.
    if (best > a_limit) return a_limit + 1;
    row.swap(next);
  }
  return row[m] <= a_limit ? row[m] : a_limit + 1;
}

const char* gmClosestName(const char* a_name, const gmTableObject* const* a_tables, int a_count) {
  const int kLimit = 2;
  const char* best = nullptr;
  int bestDistance = kLimit + 1;
  for (int t = 0; t < a_count; ++t) {
    const gmTableObject* table = a_tables[t];
    if (!table) continue;
    gmint cursor = -2;
    while (const gmTableNode* node = table->Next(cursor)) {
      if (node->key.type != GM_STRING || node->value.type == GM_NULL) continue;
      const char* text = node->key.GetStringObject()->GetString();
      if (std::strcmp(text, a_name) == 0) continue;
      const int distance = gmEditDistance(a_name, text, kLimit);
      // A change of every letter of a short name is no typing mistake ("n" is not "min").
      const size_t shorter = std::min(std::strlen(a_name), std::strlen(text));
      if (static_cast<size_t>(distance) >= shorter) continue;
      if (distance < bestDistance || (distance == bestDistance && best && std::strcmp(text, best) < 0)) {
        bestDistance = distance;
        best = text;
      }
    }
  }
  return bestDistance <= kLimit ? best : nullptr;
}

namespace {

gmuint ReadWord(const gmuint8* a_at) {
  gmuint w;
  std::memcpy(&w, a_at, sizeof(w));
  return w;
}

const char* ReferenceName(const gmFunctionObject* a_function, gmuint a_operand) {
  if (!a_function->references || a_operand >= static_cast<gmuint>(a_function->numReferences)) return nullptr;
  const gmObject* object = a_function->references[a_operand];
  if (!object || object->GetType() != GM_STRING) return nullptr;
  return static_cast<const gmStringObject*>(object)->GetString();
}

std::string Suggestion(const char* a_name, const gmTableObject* const* a_tables, int a_count) {
  const char* other = gmClosestName(a_name, a_tables, a_count);
  return other ? std::string(", did you mean '") + other + "'?" : std::string();
}

}  // namespace

// The operand stack of one straight-line expression is rebuilt by replaying the function
// from its start, remembering which instruction pushed each slot. Only the slots of the
// statement that holds the call matter, and they are counted from the top, so a depth that
// drifts across earlier statements (a return in the middle of a block) does no harm.
gmCalleeOrigin gmFindCalleeOrigin(const gmFunctionObject* a_function, int a_callOffset) {
  gmCalleeOrigin origin;
  if (!a_function || !a_function->byteCode || a_callOffset < 0 || a_callOffset + 8 > a_function->byteCodeLength)
    return origin;
  const gmuint8* code = a_function->byteCode;
  if (ReadWord(code + a_callOffset) != BC_CALL) return origin;
  std::vector<int> pushedBy;
  auto pop = [&](size_t a_n) { pushedBy.resize(pushedBy.size() > a_n ? pushedBy.size() - a_n : 0); };
  for (int at = 0; at < a_callOffset;) {
    const gmuint op = ReadWord(code + at);
    if (op >= BC_COUNT) return origin;
    const gmByteCodeInfo& info = gmByteCodeTable[op];
    const int here = at;
    at += info.hasOperand ? 8 : 4;
    switch (op) {
      case BC_CALL:
        pop(ReadWord(code + here + 4) + 2);
        pushedBy.push_back(here);
        break;
      case BC_DUP:
        pushedBy.push_back(pushedBy.empty() ? -1 : pushedBy.back());
        break;
      case BC_DUP2: {
        const int a = pushedBy.size() >= 2 ? pushedBy[pushedBy.size() - 2] : -1;
        const int b = pushedBy.empty() ? -1 : pushedBy.back();
        pushedBy.push_back(a);
        pushedBy.push_back(b);
        break;
      }
      case BC_SWAP:
        if (pushedBy.size() >= 2) std::swap(pushedBy[pushedBy.size() - 1], pushedBy[pushedBy.size() - 2]);
        break;
      case BC_GETDOT:
      case BC_NEG:
      case BC_POS:
      case BC_NOT:
      case BC_BITINV:
        pop(1);
        pushedBy.push_back(here);
        break;
      default:
        if (info.stackEffect > 0) {
          for (int i = 0; i < info.stackEffect; ++i) pushedBy.push_back(here);
        } else if (info.stackEffect == -1 && op >= BC_GETIND && op <= BC_NEQ && op != BC_SETIND && op != BC_BITINV) {
          // Two operands in, one result out.
          pop(2);
          pushedBy.push_back(here);
        } else if (info.stackEffect < 0) {
          pop(static_cast<size_t>(-info.stackEffect));
        }
        break;
    }
  }
  const size_t args = ReadWord(code + a_callOffset + 4);
  if (pushedBy.size() < args + 1) return origin;
  const int pusher = pushedBy[pushedBy.size() - args - 1];
  if (pusher < 0) return origin;
  const gmuint op = ReadWord(code + pusher);
  const gmuint operand = ReadWord(code + pusher + 4);
  switch (op) {
    case BC_GETGLOBAL:
      origin.kind = gmCalleeOrigin::GLOBAL;
      origin.name = ReferenceName(a_function, operand);
      break;
    case BC_GETDOT:
      origin.kind = gmCalleeOrigin::MEMBER;
      origin.name = ReferenceName(a_function, operand);
      break;
    case BC_GETTHIS:
      origin.kind = gmCalleeOrigin::THIS_MEMBER;
      origin.name = ReferenceName(a_function, operand);
      break;
    case BC_GETLOCAL:
      if (a_function->debugInfo && static_cast<gmint>(operand) < a_function->debugInfo->numSymbols &&
          a_function->debugInfo->symbols) {
        origin.kind = gmCalleeOrigin::LOCAL;
        origin.name = a_function->debugInfo->symbols[operand];
      }
      break;
    default:
      break;
  }
  if (!origin.name) origin.kind = gmCalleeOrigin::UNKNOWN;
  return origin;
}

std::string gmSuggestMember(gmMachine* a_machine, const gmVariable& a_object, const char* a_name) {
  if (!a_name || a_object.type == GM_NULL || !a_machine->IsValidType(a_object.type)) return "";
  const gmTableObject* tables[2] = {a_object.type == GM_TABLE ? a_object.GetTableObject() : nullptr,
                                    a_machine->GetTypeVariables(a_object.type)};
  return Suggestion(a_name, tables, 2);
}

std::string gmDescribeCallee(gmMachine* a_machine, const gmFunctionObject* a_caller, int a_callOffset,
                             const gmVariable& a_callee, const gmVariable& a_object, const gmVariable& a_self) {
  const char* type = a_machine->IsValidType(a_callee.type) ? a_machine->TypeName(a_callee.type) : "unknown";
  const gmCalleeOrigin origin = gmFindCalleeOrigin(a_caller, a_callOffset);
  if (origin.kind == gmCalleeOrigin::UNKNOWN) return std::string(" (") + type + ")";
  std::string text = std::string(" (") + type + " '" + origin.name + "')";
  switch (origin.kind) {
    case gmCalleeOrigin::GLOBAL: {
      const gmTableObject* globals = a_machine->GetGlobals();
      text += Suggestion(origin.name, &globals, 1);
      break;
    }
    case gmCalleeOrigin::MEMBER:
      text += gmSuggestMember(a_machine, a_object, origin.name);
      break;
    case gmCalleeOrigin::THIS_MEMBER:
      text += gmSuggestMember(a_machine, a_self, origin.name);
      break;
    default:
      break;
  }
  return text;
}
