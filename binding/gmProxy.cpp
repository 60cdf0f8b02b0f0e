#include "binding/gmProxy.h"

#include <cstdlib>
#include <cstring>

#include "binding/gmMachineEx.h"
#include "script/values/gmOperators.h"

namespace {

bool IsNumber(int a_type) { return a_type == GM_INT || a_type == GM_FLOAT; }
bool IsText(int a_type) { return a_type == GM_STRING || a_type == GM_CSTRING; }
bool IsAnyPtr(int a_type) { return a_type == GM_ANY_PTR || a_type == GM_ANY_PTR_CONST; }

}  // namespace

int gmScoreArgument(int a_arg, int a_param) {
  if (a_arg == a_param) return 3;
  switch (a_arg) {
    case GM_NULL:
      return 0;
    case GM_INT:
      if (a_param == GM_FLOAT) return 2;
      return IsText(a_param) ? 1 : 0;
    case GM_FLOAT:
      if (a_param == GM_INT) return 2;
      return IsText(a_param) ? 1 : 0;
    case GM_STRING:
      if (a_param == GM_CSTRING) return 2;
      return IsNumber(a_param) ? 1 : 0;
    case GM_CSTRING:
      if (a_param == GM_STRING) return 2;
      return IsNumber(a_param) ? 1 : 0;
    case GM_TABLE:
    case GM_FUNCTION:
      return IsAnyPtr(a_param) ? 1 : 0;
    default:
      break;
  }
  if (a_arg < GM_FIRST_CLASS_TYPE) return 0;
  if (a_arg & 1) {
    // A writable object goes where its read-only twin is asked for.
    if (a_param == a_arg + 1) return 3;
    return IsAnyPtr(a_param) ? 1 : 0;
  }
  return a_param == GM_ANY_PTR_CONST ? 1 : 0;
}

int gmOperatorFromText(const char* a_text, bool a_unary) {
  static const struct {
    const char* text;
    int op;
  } kOperators[] = {
      {"+", O_ADD},
      {"-", O_SUB},
      {"*", O_MUL},
      {"/", O_DIV},
      {"%", O_REM},
      {"|", O_BIT_OR},
      {"^", O_BIT_XOR},
      {"&", O_BIT_AND},
      {"<<", O_BIT_SHIFTLEFT},
      {">>", O_BIT_SHIFTRIGHT},
      {"~", O_BIT_INV},
      {"<", O_LT},
      {">", O_GT},
      {"<=", O_LTE},
      {">=", O_GTE},
      {"==", O_EQ},
      {"!=", O_NEQ},
      {"!", O_NOT},
      {"[]", O_GETIND},
  };
  if (!a_text) return O_MAXOPERATORS;
  if (a_unary && std::strcmp(a_text, "+") == 0) return O_POS;
  if (a_unary && std::strcmp(a_text, "-") == 0) return O_NEG;
  for (const auto& entry : kOperators) {
    if (std::strcmp(a_text, entry.text) == 0) return entry.op;
  }
  return O_MAXOPERATORS;
}

const char* gmHandleKindName(int a_kind) {
  switch (a_kind) {
    case GM_HANDLE_MESH:
      return "mesh";
    case GM_HANDLE_TEXTURE:
      return "texture";
    case GM_HANDLE_TEXT:
      return "text";
    case GM_HANDLE_SOUND:
      return "sound";
    default:
      return "unknown";
  }
}

void gmProxy::ResolveTypes(const gmMachineEx* a_machine) {
  if (classType == GM_UNKNOWN_TYPE && m_classResolver) classType = m_classResolver(a_machine);
  if (resultType == GM_UNKNOWN_TYPE && m_resultResolver) resultType = m_resultResolver(a_machine);
  for (int i = 0; i < numParams; ++i) {
    if (paramTypes[i] == GM_UNKNOWN_TYPE && m_paramResolvers[i]) paramTypes[i] = m_paramResolvers[i](a_machine);
  }
}

namespace gmMarshal {

void LogWrongHandle(gmThread* a_thread, const gmProxy& a_proxy, int a_index, int a_expected, int a_given) {
  const gmMachine* machine = a_thread->GetMachine();
  a_thread->LogError(
      "%s%s%s: argument %d is a %s handle where a %s handle is expected; the call is ignored",
      a_proxy.classType >= GM_FIRST_CLASS_TYPE ? machine->TypeName(a_proxy.classType) : "",
      a_proxy.classType >= GM_FIRST_CLASS_TYPE && a_proxy.GetKind() != gmProxy::KIND_CONSTRUCTOR ? "." : "",
      a_proxy.GetKind() == gmProxy::KIND_CONSTRUCTOR ? "" : a_proxy.name, a_index, gmHandleKindName(a_given),
      gmHandleKindName(a_expected));
}

void* UserNative(const gmVariable& a_value) {
  if (a_value.type < GM_USER) return nullptr;
  const gmUserObject* user = a_value.GetUserObject();
  return user ? user->user : nullptr;
}

gmUserObject* NewUser(gmThread* a_thread, void* a_native, int a_type) {
  return a_thread->GetMachine()->MakeUserObject(a_native, a_type);
}

void OwnNative(gmThread* a_thread, gmUserObject* a_user, void (*a_deleter)(void*), int a_bytes) {
  static_cast<gmMachineEx*>(a_thread->GetMachine())->OwnNative(a_user, a_deleter, a_bytes);
}

void CountMemory(gmThread* a_thread, int a_bytes) { a_thread->GetMachine()->AdjustKnownMemoryUsed(a_bytes); }

gmMachineEx* MachineOf(gmThread* a_thread) { return static_cast<gmMachineEx*>(a_thread->GetMachine()); }

gmfloat TextToFloat(const char* a_text) { return static_cast<gmfloat>(std::strtod(a_text, nullptr)); }

}  // namespace gmMarshal
