#ifndef GMMACHINEEX_H
#define GMMACHINEEX_H

// The script machine the host creates: a gmMachine with the registry that exposes native
// classes to scripts, a few extra built-in types and globals, and the host's way of calling
// a global script function by name.
//
// Type ids after the base machine's 0 to 6:
//   7 "__unknown_type__"         unregistered native classes (resource handles)
//   8 "__thread_launch_info__"   the AT_CREATE, AT_DESTROY and AT_TIME globals
//   9, 10 "any_ptr"              untyped pointer and its read-only twin
//   11, 12 "c_string"            borrowed native text and its read-only twin
//   13 on                        two per registered class: odd writable, even read-only
//
// Registry invariants: every registered class has one record per id; a record's method
// table maps a method index to its overloads in registration order; a method, operator or
// constructor function object keeps its index as its user value. The index space of
// methods and operators is per class, that of constructors (globals named like their type)
// is the machine's. Registration happens once, before any game script runs, and is never
// undone; proxies live as long as the machine. The registry belongs to the machine rather
// than to the process: the player has one machine, and tests build many.

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "binding/gmProxy.h"
#include "script/gc/gmGCRoot.h"
#include "script/vm/gmMachine.h"

namespace gPrelude {
struct ObjectRecipe;
}

class gmMachineEx : public gmMachine {
 public:
  struct TypeRecord {
    // Overloads by method index, in registration order (a multimap keeps equal keys in
    // insertion order).
    std::multimap<int, gmProxy*> methods;
    // The same overloads as a table by method index, for the dispatch of every call.
    std::vector<std::vector<std::pair<const int, gmProxy*>>> overloads;
    // Member name hash to property; no class binds properties, so it stays empty.
    std::map<gmuint, gmProxy*> properties;
    std::type_index identity = typeid(void);
    // Script names by method index, for messages.
    std::vector<std::string> methodNames;
  };

  gmMachineEx();
  ~gmMachineEx() override;

  // ---- Native type registry ---------------------------------------------------------------
  // The writable id of the class whose pointer type is a_pointerType, GM_UNKNOWN_TYPE when
  // none is registered.
  int TypeIdOf(const std::type_info& a_pointerType) const;
  template <class C>
  int NativeTypeId() const {
    return TypeIdOf(typeid(C*));
  }
  const TypeRecord* FindRecord(int a_type) const;
  // The constructor overloads of a type, in registration order (empty when it has none).
  std::vector<const gmProxy*> ConstructorsOf(int a_type) const;

  // The registration of one class, used through gmNativeType (gmNativeType.h): Begin
  // defines the two ids and returns the writable one; the Add calls bind proxies, which the
  // machine owns from then on; End records the class identity, installs the member
  // operators and resolves every proxy's types again.
  int BeginNativeType(const char* a_name);
  void AddMethod(int a_type, const char* a_name, gmProxy* a_proxy);
  void AddConstructor(int a_type, gmProxy* a_proxy);
  // a_operator is an operator slot; O_MAXOPERATORS skips the proxy.
  void AddOperator(int a_type, int a_operator, gmProxy* a_proxy);
  void EndNativeType(int a_type, const std::type_info& a_pointer, const std::type_info& a_constPointer);

  // ---- Calling script functions from native code --------------------------------------------
  // A new thread with `this` and the global function a_name pushed, ready for the caller
  // to push its arguments; null, running nothing, when the name is null or the global does
  // not hold a function. The global is read at every call, so a function assigned to the
  // name later is the one called.
  gmThread* PrepareGlobalCall(const char* a_name, const gmVariable& a_this = gmVariable::Null());
  // Starts the call with a_numArgs arguments and runs the thread until it returns or stops;
  // the function's result, or null.
  gmVariable FinishCall(gmThread* a_thread, int a_numArgs);

  // ---- Errors from natives bound through proxies -------------------------------------------------
  // A bound member function sees no thread. During its call this is the calling thread
  // (null outside any proxy call), and FailCurrentCall turns the call into a script error
  // once the function returns: the calling thread stops, as for any native error. The
  // native logs the reason first.
  gmThread* GetCallingThread() const { return m_callingThread; }
  // "FILE(LINE)" of the script line whose call of a bound native is running now, for the
  // natives' own messages; empty outside such a call.
  static std::string CallingPosition();
  void FailCurrentCall() { m_callFailed = true; }

  // ---- Natives owned by their wrappers --------------------------------------------------------
  void OwnNative(gmUserObject* a_user, void (*a_deleter)(void*), int a_bytes);

  // ---- Texts run again and again ------------------------------------------------------------
  // RunString for a text that natives compose and run many times over (the object prelude):
  // the compiled top-level function is kept, keyed by the whole text, and every run starts
  // it on a new thread as RunString does, so a script sees the same globals, errors and order
  // of effects as when the text is compiled afresh. A text that fails to compile is not
  // kept, so its errors are logged at every run. A function literal in a kept text would be
  // one function object at every run instead of a new one each time: texts holding one go
  // through RunString.
  int RunKeptString(const std::string& a_text);
  // The kept compilation of a_text, compiling it when it is not kept yet; null when it does
  // not compile (the errors are logged and counted in *a_errors).
  gmFunctionObject* KeptString(const std::string& a_text, int* a_errors = nullptr);

  // ---- What the prelude defined -------------------------------------------------------------
  // Set by the host once the prelude's Object exists (gPrelude::KeepObjectRecipe); null when
  // the machine has no Object of the host's making.
  std::unique_ptr<gPrelude::ObjectRecipe> objectRecipe;

 private:
  struct Owned {
    void (*deleter)(void*);
    int bytes;
  };

  static int MethodDispatch(gmThread* a_thread);
  static int ConstructorDispatch(gmThread* a_thread);
  static int OperatorDispatch(gmThread* a_thread);
  static void DestructOwned(gmMachine* a_machine, gmUserObject* a_user);

  // The first overload whose every argument scores 3, else the first with the highest
  // total; null when every candidate rejects an argument.
  template <class It>
  static gmProxy* ChooseOverload(It a_first, It a_last, gmThread* a_thread, int a_firstArg);
  template <class It>
  void LogNoOverload(gmThread* a_thread, const char* a_what, int a_firstArg, It a_first, It a_last);
  template <class It>
  std::string OverloadList(It a_first, It a_last) const;
  // Calls the proxy with the calling thread recorded (calls nest when a native runs script).
  int CallProxy(gmProxy* a_proxy, gmThread* a_thread, void* a_native, int a_firstArg);
  void ResolveAll();
  gmProxy* Keep(gmProxy* a_proxy);
  void AddRecord(int a_type, const std::type_info& a_identity);
  // The record of a_type, made when missing.
  TypeRecord& Record(int a_type);
  void AddOverload(TypeRecord& a_record, int a_index, gmProxy* a_proxy);

  std::map<int, TypeRecord> m_records;
  // Records by type id (null where a type has none): the lookup of every native call.
  std::vector<TypeRecord*> m_recordsByType;
  const std::vector<std::pair<const int, gmProxy*>> m_noOverloads;
  std::multimap<int, gmProxy*> m_constructors;
  std::vector<std::string> m_constructorNames;
  std::vector<std::unique_ptr<gmProxy>> m_proxies;
  int m_nextMethodIndex = 0;  // of the class being registered
  std::unordered_map<gmUserObject*, Owned> m_owned;
  gmThread* m_callingThread = nullptr;
  static gmThread* s_callingThread;
  bool m_callFailed = false;
  // Payloads of the AT_ globals.
  int m_launchInfo[3] = {0, 1, 2};
  // Natives carrying a charge on this machine's memory usage (gmWrappable::Charge).
  friend class gmWrappable;
  gmWrappable* m_charged = nullptr;
  // Compiled kept texts, at most kKeptTexts of them (names made up at run time would grow
  // the map without end); the oldest is dropped first.
  static const std::size_t kKeptTexts = 256;
  std::unordered_map<std::string, gmGCRoot> m_kept;
  std::deque<std::string> m_keptOrder;
};

template <class C>
int gmMarshal::ClassTypeId(const gmMachineEx* a_machine) {
  return a_machine->NativeTypeId<C>();
}

#endif
