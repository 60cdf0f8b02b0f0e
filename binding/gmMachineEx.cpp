#include "binding/gmMachineEx.h"

#include <string>

#include "binding/gPrelude.h"

#include "script/gmAssert.h"
#include "script/values/gmOperators.h"

namespace {

// A c_string shows its text wherever a value is turned into text (print, format).
void CStringText(gmUserObject* a_object, char* a_buffer, int a_size) {
  const char* text = a_object->user ? static_cast<const char*>(a_object->user) : "null";
  std::snprintf(a_buffer, static_cast<size_t>(a_size), "%s", text);
}

// No class binds properties: reading a member writes null, so the interpreter takes the
// method of that name from the type's variables; writing one is accepted and has no
// effect.
int GetDot(gmMachine*, gmThread*, gmVariable* a_operands) {
  a_operands[0].SetNull();
  return GM_OPERATOR_OK;
}
int SetDot(gmMachine*, gmThread*, gmVariable*) { return GM_OPERATOR_OK; }

// "(int, string)" for the arguments from a_first on.
std::string ArgumentTypes(gmThread* a_thread, int a_first) {
  std::string text = "(";
  for (int i = a_first; i < a_thread->GetNumParams(); ++i) {
    if (i > a_first) text += ", ";
    text += a_thread->GetMachine()->TypeName(a_thread->ParamType(i));
  }
  return text + ")";
}

}  // namespace

gmMachineEx::gmMachineEx() {
  bool gc = EnableGC(false);
  DefineType("__unknown_type__");
  DefineType("__thread_launch_info__");
  DefineType("any_ptr");
  DefineType("any_ptr");
  DefineType("c_string");
  DefineType("c_string");
  GM_ASSERT(GetNumTypes() == GM_FIRST_CLASS_TYPE, "native types take their ids from the first class type on");
  AddRecord(GM_ANY_PTR, typeid(void*));
  AddRecord(GM_ANY_PTR_CONST, typeid(const void*));
  AddRecord(GM_CSTRING, typeid(char*));
  AddRecord(GM_CSTRING_CONST, typeid(const char*));

  SetTypeOperator(GM_CSTRING, O_ADD, nullptr, gmStringOpAdd);
  SetTypeCallbacks(GM_CSTRING, nullptr, nullptr, CStringText);
  SetTypeCallbacks(GM_CSTRING_CONST, nullptr, nullptr, CStringText);

  static const char* const kLaunchGlobals[] = {"AT_CREATE", "AT_DESTROY", "AT_TIME"};
  for (int i = 0; i < 3; ++i)
    GetGlobals()->SetByName(this, kLaunchGlobals[i], gmVariable(MakeUserObject(&m_launchInfo[i], GM_LAUNCH_INFO)));
  EnableGC(gc);
}

gmMachineEx::~gmMachineEx() {
  // The base destructor frees every user object after this object's members are gone, so
  // the owned natives go now and no destruct callback of ours may run later.
  for (auto& entry : m_owned) {
    entry.second.deleter(entry.first->user);
    entry.first->user = nullptr;
  }
  m_owned.clear();
  while (gmWrappable* native = m_charged) {
    m_charged = native->m_chargeNext;
    native->m_chargedTo = nullptr;
    native->m_chargePrev = native->m_chargeNext = nullptr;
  }
  for (const auto& record : m_records) {
    const gmTypeEntry& type = GetTypeEntry(record.first);
    if (type.destruct == DestructOwned) SetTypeCallbacks(record.first, type.trace, nullptr, type.asString);
  }
}

// ---- Registry -----------------------------------------------------------------------------

void gmMachineEx::AddRecord(int a_type, const std::type_info& a_identity) {
  Record(a_type).identity = std::type_index(a_identity);
}

gmMachineEx::TypeRecord& gmMachineEx::Record(int a_type) {
  TypeRecord& record = m_records[a_type];
  if (a_type >= 0) {
    if (static_cast<size_t>(a_type) >= m_recordsByType.size()) m_recordsByType.resize(static_cast<size_t>(a_type) + 1);
    m_recordsByType[static_cast<size_t>(a_type)] = &record;
  }
  return record;
}

void gmMachineEx::AddOverload(TypeRecord& a_record, int a_index, gmProxy* a_proxy) {
  a_record.methods.emplace(a_index, a_proxy);
  if (static_cast<size_t>(a_index) >= a_record.overloads.size())
    a_record.overloads.resize(static_cast<size_t>(a_index) + 1);
  a_record.overloads[static_cast<size_t>(a_index)].emplace_back(a_index, a_proxy);
}

int gmMachineEx::TypeIdOf(const std::type_info& a_pointerType) const {
  const std::type_index wanted(a_pointerType);
  for (const auto& record : m_records) {
    if (record.second.identity == wanted) return record.first;
  }
  return GM_UNKNOWN_TYPE;
}

const gmMachineEx::TypeRecord* gmMachineEx::FindRecord(int a_type) const {
  return a_type >= 0 && static_cast<size_t>(a_type) < m_recordsByType.size()
             ? m_recordsByType[static_cast<size_t>(a_type)]
             : nullptr;
}

std::vector<const gmProxy*> gmMachineEx::ConstructorsOf(int a_type) const {
  std::vector<const gmProxy*> found;
  const char* name = TypeName(a_type);
  for (size_t index = 0; index < m_constructorNames.size(); ++index) {
    if (m_constructorNames[index] != name) continue;
    auto range = m_constructors.equal_range(static_cast<int>(index));
    for (auto it = range.first; it != range.second; ++it) found.push_back(it->second);
  }
  return found;
}

gmProxy* gmMachineEx::Keep(gmProxy* a_proxy) {
  m_proxies.emplace_back(a_proxy);
  return a_proxy;
}

int gmMachineEx::BeginNativeType(const char* a_name) {
  bool gc = EnableGC(false);
  int type = DefineType(a_name);
  DefineType(a_name);
  EnableGC(gc);
  Record(type);
  Record(type + 1);
  m_nextMethodIndex = 0;
  return type;
}

void gmMachineEx::AddMethod(int a_type, const char* a_name, gmProxy* a_proxy) {
  Keep(a_proxy);
  TypeRecord& record = Record(a_type);
  gmVariable existing = GetTypeVariables(a_type)->GetByName(this, a_name);
  int index;
  if (existing.IsFunction() && existing.GetFunctionObject()->nativeFunction == MethodDispatch) {
    index = static_cast<int>(existing.GetFunctionObject()->userValue);
  } else {
    index = m_nextMethodIndex++;
    bool gc = EnableGC(false);
    SetTypeVariable(a_type, a_name, gmVariable(MakeNativeFunction(MethodDispatch, index)));
    EnableGC(gc);
    record.methodNames.resize(static_cast<size_t>(index) + 1);
    record.methodNames[static_cast<size_t>(index)] = a_name;
  }
  AddOverload(record, index, a_proxy);
  if (a_proxy->IsConstMember()) AddOverload(Record(a_type + 1), index, a_proxy);
}

void gmMachineEx::AddConstructor(int a_type, gmProxy* a_proxy) {
  Keep(a_proxy);
  const char* name = TypeName(a_type);
  gmVariable existing = GetGlobals()->GetByName(this, name);
  int index;
  if (existing.IsFunction() && existing.GetFunctionObject()->nativeFunction == ConstructorDispatch) {
    index = static_cast<int>(existing.GetFunctionObject()->userValue);
  } else {
    index = static_cast<int>(m_constructorNames.size());
    m_constructorNames.emplace_back(name);
    bool gc = EnableGC(false);
    GetGlobals()->SetByName(this, name, gmVariable(MakeNativeFunction(ConstructorDispatch, index)));
    EnableGC(gc);
  }
  m_constructors.emplace(index, a_proxy);
}

void gmMachineEx::AddOperator(int a_type, int a_operator, gmProxy* a_proxy) {
  Keep(a_proxy);
  if (a_operator < 0 || a_operator >= O_MAXOPERATORS) return;
  TypeRecord& record = Record(a_type);
  gmFunctionObject* function = GetTypeOperator(a_type, a_operator);
  int index;
  if (function && function->nativeFunction == OperatorDispatch) {
    index = static_cast<int>(function->userValue);
  } else {
    index = m_nextMethodIndex++;
    function = MakeNativeFunction(OperatorDispatch, index);
    // Operator slots are not among the collector's roots.
    GetGC()->MakePersistent(function);
    // A native slot (the identity == and != every user type starts with) would be taken
    // before the script slot.
    SetTypeOperator(a_type, a_operator, nullptr, nullptr);
    SetTypeOperator(a_type, a_operator, function, nullptr);
    if (a_operator == O_GETIND) {
      SetTypeOperator(a_type, O_SETIND, nullptr, nullptr);
      SetTypeOperator(a_type, O_SETIND, function, nullptr);
    }
    record.methodNames.resize(static_cast<size_t>(index) + 1);
    record.methodNames[static_cast<size_t>(index)] = gmGetOperatorName(a_operator);
  }
  AddOverload(record, index, a_proxy);
}

void gmMachineEx::EndNativeType(int a_type, const std::type_info& a_pointer, const std::type_info& a_constPointer) {
  SetTypeCallbacks(a_type, nullptr, DestructOwned, nullptr);
  SetTypeCallbacks(a_type + 1, nullptr, DestructOwned, nullptr);
  AddRecord(a_type, a_pointer);
  AddRecord(a_type + 1, a_constPointer);
  SetTypeOperator(a_type, O_GETDOT, nullptr, GetDot);
  SetTypeOperator(a_type, O_SETDOT, nullptr, SetDot);
  SetTypeOperator(a_type + 1, O_GETDOT, nullptr, GetDot);
  ResolveAll();
}

void gmMachineEx::ResolveAll() {
  for (const auto& proxy : m_proxies) proxy->ResolveTypes(this);
}

// ---- Dispatch -----------------------------------------------------------------------------

template <class It>
gmProxy* gmMachineEx::ChooseOverload(It a_first, It a_last, gmThread* a_thread, int a_firstArg) {
  const int count = a_thread->GetNumParams() - a_firstArg;
  const gmVariable* args = a_thread->GetBase() + a_firstArg;
  gmProxy* best = nullptr;
  int bestTotal = 0;
  for (It it = a_first; it != a_last; ++it) {
    gmProxy* proxy = it->second;
    // More arguments than parameters rejects the overload at once.
    if (count > proxy->numParams) continue;
    int total = 0;
    bool rejected = false;
    for (int i = 0; i < count; ++i) {
      const int param = proxy->paramTypes[i];
      const int score = args[i].type == param ? 3 : gmScoreArgument(args[i].type, param);
      if (score == 0) {
        rejected = true;
        break;
      }
      total += score;
    }
    if (rejected) continue;
    if (total == 3 * count) return proxy;
    if (total > bestTotal) {
      best = proxy;
      bestTotal = total;
    }
  }
  return best;
}

// "(float) or (float, float, float)": what the overloads under one name take, in
// registration order, as scripts name the types (a text parameter takes a string).
template <class It>
std::string gmMachineEx::OverloadList(It a_first, It a_last) const {
  std::string text;
  std::vector<std::string> forms;
  for (It it = a_first; it != a_last; ++it) {
    const gmProxy* proxy = it->second;
    std::string form = "(";
    for (int i = 0; i < proxy->numParams; ++i) {
      if (i) form += ", ";
      const int type = proxy->paramTypes[i];
      if (type == GM_CSTRING || type == GM_CSTRING + 1)
        form += "string";
      else if (type == GM_ANY_PTR || type == GM_ANY_PTR_CONST)
        form += "any";
      else
        form += IsValidType(type) ? TypeName(type) : "?";
    }
    forms.push_back(form + ")");
  }
  for (size_t i = 0; i < forms.size(); ++i) {
    if (i) text += i + 1 == forms.size() ? " or " : ", ";
    text += forms[i];
  }
  return text;
}

template <class It>
void gmMachineEx::LogNoOverload(gmThread* a_thread, const char* a_what, int a_firstArg, It a_first, It a_last) {
  const std::string forms = OverloadList(a_first, a_last);
  a_thread->LogError("no overload of %s takes %s%s%s", a_what, ArgumentTypes(a_thread, a_firstArg).c_str(),
                     forms.empty() ? "" : "; it takes ", forms.c_str());
}

gmThread* gmMachineEx::s_callingThread = nullptr;

std::string gmMachineEx::CallingPosition() {
  return s_callingThread ? s_callingThread->CallerPosition() : std::string();
}

int gmMachineEx::CallProxy(gmProxy* a_proxy, gmThread* a_thread, void* a_native, int a_firstArg) {
  gmThread* const outerThread = m_callingThread;
  gmThread* const outerStatic = s_callingThread;
  const bool outerFailed = m_callFailed;
  m_callingThread = a_thread;
  s_callingThread = a_thread;
  m_callFailed = false;
  int status = a_proxy->Call(a_thread, a_native, a_firstArg);
  if (m_callFailed) status = GM_NATIVE_ERROR;
  m_callingThread = outerThread;
  s_callingThread = outerStatic;
  m_callFailed = outerFailed;
  return status;
}

int gmMachineEx::MethodDispatch(gmThread* a_thread) {
  gmMachineEx* machine = static_cast<gmMachineEx*>(a_thread->GetMachine());
  const int index = static_cast<int>(a_thread->GetFunctionObject()->userValue);
  const gmVariable* self = a_thread->GetThis();
  const TypeRecord* record = self->type >= GM_USER ? machine->FindRecord(self->type) : nullptr;
  if (!record || !self->GetUserObject()) {
    a_thread->LogError("a native method was called on a %s, which is not a native object",
                       machine->TypeName(self->type));
    return GM_NATIVE_ERROR;
  }
  const auto& overloads = static_cast<size_t>(index) < record->overloads.size()
                              ? record->overloads[static_cast<size_t>(index)]
                              : machine->m_noOverloads;
  gmProxy* proxy = ChooseOverload(overloads.begin(), overloads.end(), a_thread, 0);
  if (!proxy) {
    auto range = record->methods.equal_range(index);
    std::string what =
        std::string(machine->TypeName(self->type)) + "." +
        (static_cast<size_t>(index) < record->methodNames.size() ? record->methodNames[static_cast<size_t>(index)]
                                                                 : std::string("?"));
    machine->LogNoOverload(a_thread, what.c_str(), 0, range.first, range.second);
    return GM_NATIVE_ERROR;
  }
  return machine->CallProxy(proxy, a_thread, self->GetUserObject()->user, 0);
}

int gmMachineEx::ConstructorDispatch(gmThread* a_thread) {
  gmMachineEx* machine = static_cast<gmMachineEx*>(a_thread->GetMachine());
  const int index = static_cast<int>(a_thread->GetFunctionObject()->userValue);
  auto range = machine->m_constructors.equal_range(index);
  gmProxy* proxy = ChooseOverload(range.first, range.second, a_thread, 0);
  if (!proxy) {
    machine->LogNoOverload(a_thread, machine->m_constructorNames[static_cast<size_t>(index)].c_str(), 0, range.first,
                           range.second);
    return GM_NATIVE_ERROR;
  }
  return machine->CallProxy(proxy, a_thread, nullptr, 0);
}

// The interpreter calls a type's script operator with `this` null and the operands as
// arguments. The native object must be the left operand (or the only one): with it on the
// right, the proxy would take the native object itself for its argument (2 + v would add v
// to itself), so that order is an error like any operand no overload takes.
int gmMachineEx::OperatorDispatch(gmThread* a_thread) {
  gmMachineEx* machine = static_cast<gmMachineEx*>(a_thread->GetMachine());
  const int index = static_cast<int>(a_thread->GetFunctionObject()->userValue);
  const gmVariable& left = a_thread->Param(0);
  const gmVariable* self = nullptr;
  if (left.type > GM_USER) {
    self = &left;
  } else if (a_thread->GetNumParams() >= 2 && a_thread->ParamType(1) > GM_USER) {
    const gmVariable& right = a_thread->Param(1);
    const TypeRecord* record = machine->FindRecord(right.type);
    const char* op = (record && static_cast<size_t>(index) < record->methodNames.size())
                         ? record->methodNames[static_cast<size_t>(index)].c_str()
                         : "?";
    a_thread->LogError("operator %s of %s takes the %s as its left operand, not %s", op, machine->TypeName(right.type),
                       machine->TypeName(right.type), machine->TypeName(left.type));
    return GM_NATIVE_ERROR;
  }
  const TypeRecord* record = self ? machine->FindRecord(self->type) : nullptr;
  if (!record || !self->GetUserObject()) {
    a_thread->LogError("a native operator was applied to a %s, which is not a native object",
                       machine->TypeName(left.type));
    return GM_NATIVE_ERROR;
  }
  const auto& overloads = static_cast<size_t>(index) < record->overloads.size()
                              ? record->overloads[static_cast<size_t>(index)]
                              : machine->m_noOverloads;
  gmProxy* proxy = ChooseOverload(overloads.begin(), overloads.end(), a_thread, 1);
  if (!proxy) {
    auto range = record->methods.equal_range(index);
    std::string what =
        std::string("operator ") +
        (static_cast<size_t>(index) < record->methodNames.size() ? record->methodNames[static_cast<size_t>(index)]
                                                                 : std::string("?")) +
        " of " + machine->TypeName(self->type);
    machine->LogNoOverload(a_thread, what.c_str(), 1, range.first, range.second);
    return GM_NATIVE_ERROR;
  }
  return machine->CallProxy(proxy, a_thread, self->GetUserObject()->user, 1);
}

// ---- Owned natives --------------------------------------------------------------------------

void gmMachineEx::OwnNative(gmUserObject* a_user, void (*a_deleter)(void*), int a_bytes) {
  if (!a_user || !a_deleter) return;
  m_owned[a_user] = Owned{a_deleter, a_bytes};
}

void gmMachineEx::DestructOwned(gmMachine* a_machine, gmUserObject* a_user) {
  gmMachineEx* machine = static_cast<gmMachineEx*>(a_machine);
  auto it = machine->m_owned.find(a_user);
  if (it == machine->m_owned.end()) return;
  it->second.deleter(a_user->user);
  machine->AdjustKnownMemoryUsed(-it->second.bytes);
  a_user->user = nullptr;
  machine->m_owned.erase(it);
}

// ---- Texts run again and again ----------------------------------------------------------------

int gmMachineEx::RunKeptString(const std::string& a_text) {
  int errors = 0;
  gmFunctionObject* root = KeptString(a_text, &errors);
  if (!root) return errors;
  RunFunction(root);
  return 0;
}

gmFunctionObject* gmMachineEx::KeptString(const std::string& a_text, int* a_errors) {
  if (a_errors) *a_errors = 0;
  auto found = m_kept.find(a_text);
  if (found == m_kept.end()) {
    int errors = 0;
    gmFunctionObject* root = CompileString(a_text.c_str(), &errors);
    if (!root) {
      if (a_errors) *a_errors = errors;
      return nullptr;
    }
    if (m_kept.size() >= kKeptTexts) {
      m_kept.erase(m_keptOrder.front());
      m_keptOrder.pop_front();
    }
    found = m_kept.emplace(a_text, gmGCRoot(this, gmVariable(root))).first;
    m_keptOrder.push_back(a_text);
  }
  return found->second.GetFunction();
}

// ---- Calling script functions -----------------------------------------------------------------

gmThread* gmMachineEx::PrepareGlobalCall(const char* a_name, const gmVariable& a_this) {
  if (!a_name) return nullptr;
  gmVariable function = GetGlobals()->GetByName(this, a_name);
  if (!function.IsFunction()) return nullptr;
  gmThread* thread = NewThread();
  thread->PushValue(a_this);
  thread->PushFunction(function.GetFunctionObject());
  return thread;
}

gmVariable gmMachineEx::FinishCall(gmThread* a_thread, int a_numArgs) {
  gmVariable result = gmVariable::Null();
  if (!a_thread) return result;
  const int id = a_thread->GetId();
  int state = a_thread->PushCall(a_numArgs);
  if (state == gmThread::CALL_OK) {
    // A callback that sleeps, blocks or yields would stay behind, one more thread every
    // call: nothing in this host ever resumes it.
    if (a_thread->Run(&result) != gmThread::KILLED && FindThread(id) == a_thread && !a_thread->IsExecuting())
      SwitchThreadState(a_thread, gmThread::KILLED);
  } else {
    // A native function finished, failed or stopped inside PushCall: nothing is left to
    // run, and the thread would otherwise stay in its list.
    if (state == gmThread::KILLED) result = a_thread->GetBottom()[0];
    if (FindThread(id) == a_thread && !a_thread->IsExecuting()) SwitchThreadState(a_thread, gmThread::KILLED);
  }
  return result;
}
