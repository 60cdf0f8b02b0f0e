#ifndef GMPROXY_H
#define GMPROXY_H

// One proxy per bound native operation (a method, a constructor or an operator). A proxy
// knows the script type of its class, of its result and of each parameter; the dispatchers
// of gmMachineEx score every overload registered under a name against the actual argument
// types, pick one, and the chosen proxy converts the arguments, calls the native function
// and wraps the result.
//
// Type ids start at GM_UNKNOWN_TYPE and are filled in by ResolveTypes, which the machine
// runs for every proxy after each class registration: a proxy that mentions a class
// registered later picks up its id as soon as that class exists.
//
// Ownership: a user object never owns the native object it wraps, except the fresh copies
// made for class-by-value results and the objects made by the constructors of value types
// (gVector3): nothing native keeps a pointer to those, so the collector frees them with
// their wrapper (gmMachineEx::OwnNative).

#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <type_traits>
#include <utility>

#include "binding/gmResourceHandle.h"
#include "binding/gmWrappable.h"
#include "script/lib/gmLibNumbers.h"
#include "script/vm/gmThread.h"

class gmMachineEx;

// The machine extension's type ids (GM_CSTRING, 11, is declared with the values).
enum gmExtraType {
  GM_UNKNOWN_TYPE = 7,  // any unregistered native class; inside proxies also "not resolved yet"
  GM_LAUNCH_INFO = 8,   // type of the AT_ globals
  GM_ANY_PTR = 9,
  GM_ANY_PTR_CONST = 10,
  GM_CSTRING_CONST = 12,
  GM_FIRST_CLASS_TYPE = 13,  // registered classes take odd (writable) and even (read-only) ids from here
};

// The score of one argument of script type a_arg against a parameter of type a_param:
// 3 exact, 2 close (int and float, string and c_string), 1 convertible, 0 rejected.
int gmScoreArgument(int a_arg, int a_param);

// Operator texts used at registration to operator slots; O_MAXOPERATORS ("none") for any
// other text. a_unary selects the unary meaning of "+" and "-".
int gmOperatorFromText(const char* a_text, bool a_unary);

typedef int (*gmTypeResolver)(const gmMachineEx* a_machine);

class gmProxy {
 public:
  enum Kind { KIND_METHOD = 2, KIND_CONSTRUCTOR = 3, KIND_OPERATOR = 5 };
  enum { MAX_PARAMS = 10 };

  virtual ~gmProxy() = default;
  virtual int GetKind() const = 0;
  // No bound member is const here; the registry would also enter const members under the
  // read-only type.
  virtual bool IsConstMember() const { return false; }
  // Properties are not bound by this program: assignments to members of native objects
  // are accepted and change nothing.
  virtual void SetProperty(gmThread*, void*, const gmVariable&) {}
  // Converts the thread's parameters from a_firstArg on, calls the native function on
  // a_native (ignored by constructors) and pushes the result. A call with another number
  // of arguments than the proxy takes, on an absent object, or with an argument that
  // cannot be converted, pushes null and calls nothing. Returns a native status.
  virtual int Call(gmThread* a_thread, void* a_native, int a_firstArg) = 0;

  // Score of an argument of script type a_type at position a_index (0 when the proxy takes
  // fewer parameters).
  int ScoreArg(int a_type, int a_index) const {
    return (a_index < numParams) ? gmScoreArgument(a_type, paramTypes[a_index]) : 0;
  }
  // Replace every id still at GM_UNKNOWN_TYPE by the current id of its native type.
  void ResolveTypes(const gmMachineEx* a_machine);

  const char* name = "";  // script name, for messages
  int classType = GM_UNKNOWN_TYPE;
  int resultType = GM_UNKNOWN_TYPE;
  int numParams = 0;
  int paramTypes[MAX_PARAMS] = {GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE,
                                GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE, GM_UNKNOWN_TYPE};

 protected:
  gmTypeResolver m_classResolver = nullptr;
  gmTypeResolver m_resultResolver = nullptr;
  gmTypeResolver m_paramResolvers[MAX_PARAMS] = {};
};

// ---- Native type traits -------------------------------------------------------------------
// How one native parameter or result type maps to a script type and converts.

namespace gmMarshal {

// The id of a registered class, GM_UNKNOWN_TYPE when it is not registered (defined with
// gmMachineEx).
template <class C>
int ClassTypeId(const gmMachineEx* a_machine);

// Writes a log entry on the calling thread's machine (keeps gmMachineEx out of this header).
void LogWrongHandle(gmThread* a_thread, const gmProxy& a_proxy, int a_index, int a_expected, int a_given);
// The native object wrapped by a user object of script type a_type, or null.
void* UserNative(const gmVariable& a_value);
gmUserObject* NewUser(gmThread* a_thread, void* a_native, int a_type);
// The wrapper owns the native object from now on: a_deleter frees it when the wrapper is
// collected, and a_bytes (counted with CountMemory) leave the machine's count then.
void OwnNative(gmThread* a_thread, gmUserObject* a_user, void (*a_deleter)(void*), int a_bytes);
// Native bytes allocated on behalf of scripts, counted in the memory that paces the collector.
void CountMemory(gmThread* a_thread, int a_bytes);
// The calling thread's machine, which is always the extended one.
gmMachineEx* MachineOf(gmThread* a_thread);
// Leading number of a text, as the C conversions read it (0 when there is none).
gmfloat TextToFloat(const char* a_text);

template <class T>
using Bare = std::remove_cv_t<std::remove_pointer_t<std::remove_cv_t<std::remove_reference_t<T>>>>;

template <class T>
constexpr bool IsText = std::is_same_v<std::remove_cv_t<T>, const char*> || std::is_same_v<std::remove_cv_t<T>, char*>;

template <class T>
constexpr bool IsTable = std::is_same_v<std::remove_cv_t<std::remove_reference_t<T>>, gmTableObject*>;

template <class T>
constexpr bool IsClass = std::is_class_v<Bare<T>> && !IsTable<T> && !IsText<T>;

// Class pointers are kept in user objects as the pointer a resource handle's base has, so
// that its kind can be read back without knowing the class.
template <class C>
void* ToUser(C* a_object) {
  if constexpr (std::is_base_of_v<gmResourceHandle, C>)
    return static_cast<gmResourceHandle*>(const_cast<std::remove_cv_t<C>*>(a_object));
  else
    return const_cast<std::remove_cv_t<C>*>(a_object);
}
template <class C>
C* FromUser(void* a_user) {
  if constexpr (std::is_base_of_v<gmResourceHandle, C>)
    return static_cast<C*>(static_cast<gmResourceHandle*>(a_user));
  else
    return static_cast<C*>(a_user);
}

// A new wrapper of a_object as script type a_type; a native that can die learns of it, so
// its death cuts the wrapper (gmWrappable).
template <class C>
gmUserObject* Wrap(gmThread* a_thread, C* a_object, int a_type) {
  gmUserObject* user = NewUser(a_thread, ToUser(a_object), a_type);
  if constexpr (std::is_base_of_v<gmWrappable, std::remove_cv_t<C>>) {
    if (a_object) const_cast<std::remove_cv_t<C>*>(a_object)->AddWrapper(user);
  }
  return user;
}

template <class T>
int TypeOf(const gmMachineEx* a_machine) {
  using D = std::remove_cv_t<std::remove_reference_t<T>>;
  if constexpr (std::is_void_v<D>) {
    return GM_NULL;
  } else if constexpr (std::is_same_v<D, int> || std::is_same_v<D, unsigned int> || std::is_same_v<D, bool>) {
    return GM_INT;
  } else if constexpr (std::is_same_v<D, float>) {
    return GM_FLOAT;
  } else if constexpr (IsText<D>) {
    return GM_CSTRING;
  } else if constexpr (IsTable<D>) {
    return GM_TABLE;
  } else {
    static_assert(IsClass<D>, "a bound parameter or result must be a number, a text, a table or a class");
    return ClassTypeId<Bare<D>>(a_machine);
  }
}

// One argument converted for the call; its storage lives as long as the call.
template <class T, class Enable = void>
struct Arg;

template <class T>
struct Arg<T, std::enable_if_t<std::is_same_v<T, int> || std::is_same_v<T, unsigned int> || std::is_same_v<T, bool>>> {
  gmint value = 0;
  bool Read(gmThread*, const gmProxy&, int, const gmVariable& a_v) {
    switch (a_v.type) {
      case GM_INT:
        value = a_v.GetInt();
        break;
      case GM_FLOAT:
        value = gmFloatToInt(a_v.GetFloat());
        break;
      case GM_STRING:
        value = gmTextToInt(a_v.GetStringObject()->text);
        break;
      case GM_CSTRING: {
        const char* text = static_cast<const char*>(UserNative(a_v));
        value = text ? gmTextToInt(text) : 0;
        break;
      }
      default:
        value = 0;
        break;
    }
    return true;
  }
  T Get() const {
    if constexpr (std::is_same_v<T, bool>)
      return value != 0;
    else
      return static_cast<T>(value);
  }
};

template <class T>
struct Arg<T, std::enable_if_t<std::is_same_v<T, float>>> {
  gmfloat value = 0.0f;
  bool Read(gmThread*, const gmProxy&, int, const gmVariable& a_v) {
    switch (a_v.type) {
      case GM_INT:
        value = static_cast<gmfloat>(a_v.GetInt());
        break;
      case GM_FLOAT:
        value = a_v.GetFloat();
        break;
      case GM_STRING:
        value = TextToFloat(a_v.GetStringObject()->text);
        break;
      case GM_CSTRING: {
        const char* text = static_cast<const char*>(UserNative(a_v));
        value = text ? TextToFloat(text) : 0.0f;
        break;
      }
      default:
        value = 0.0f;
        break;
    }
    return true;
  }
  float Get() const { return value; }
};

template <class T>
struct Arg<T, std::enable_if_t<IsText<T>>> {
  // Numbers are formatted here; "%f" of the largest float needs 47 characters.
  char buffer[64];
  const char* text = "";
  bool Read(gmThread*, const gmProxy&, int, const gmVariable& a_v) {
    switch (a_v.type) {
      case GM_STRING:
        text = a_v.GetStringObject()->text;
        break;
      case GM_CSTRING: {
        const char* borrowed = static_cast<const char*>(UserNative(a_v));
        text = borrowed ? borrowed : "";
        break;
      }
      case GM_INT:
        std::snprintf(buffer, sizeof(buffer), "%d", a_v.GetInt());
        text = buffer;
        break;
      case GM_FLOAT:
        std::snprintf(buffer, sizeof(buffer), "%f", static_cast<double>(a_v.GetFloat()));
        text = buffer;
        break;
      default:
        text = "";
        break;
    }
    return true;
  }
  // Natives that take char* promise not to write through it.
  T Get() const { return const_cast<T>(text); }
};

template <class T>
struct Arg<T, std::enable_if_t<IsTable<T>>> {
  gmTableObject* table = nullptr;
  bool Read(gmThread*, const gmProxy&, int, const gmVariable& a_v) {
    table = a_v.IsTable() ? a_v.GetTableObject() : nullptr;
    return true;
  }
  gmTableObject* Get() const { return table; }
};

// A class by pointer, by reference or by value. A value that does not hold an object of
// the parameter's class refuses the call, so a native never receives a wrong or missing
// object; a resource handle of the wrong kind is refused with a log entry.
template <class T>
struct Arg<T, std::enable_if_t<IsClass<T>>> {
  using C = Bare<T>;
  C* object = nullptr;
  bool Read(gmThread* a_thread, const gmProxy& a_proxy, int a_index, const gmVariable& a_v) {
    const int expected = a_proxy.paramTypes[a_index];
    if (a_v.type <= GM_USER) return false;
    if (expected == GM_UNKNOWN_TYPE) {
      // Type 7 holds resource handles only (see PushResult): any other unregistered class
      // cannot be checked, so it is never handed to a native.
      if constexpr (std::is_base_of_v<gmResourceHandle, C>) {
        void* user = a_v.type == GM_UNKNOWN_TYPE ? UserNative(a_v) : nullptr;
        if (!user) return false;
        const gmResourceHandle* handle = static_cast<gmResourceHandle*>(user);
        if (handle->handleKind != C::kHandleKind) {
          LogWrongHandle(a_thread, a_proxy, a_index, C::kHandleKind, handle->handleKind);
          return false;
        }
        object = FromUser<C>(user);
        return true;
      } else {
        return false;
      }
    }
    if (a_v.type != expected && a_v.type != expected + 1) return false;
    object = FromUser<C>(UserNative(a_v));
    return object != nullptr;
  }
  T Get() const {
    if constexpr (std::is_pointer_v<T>)
      return object;
    else
      return *object;  // a reference, or a copy for a class by value
  }
};

// Pushes a native result as a script value of type a_type.
template <class R>
void PushResult(gmThread* a_thread, R&& a_result, int a_type) {
  using D = std::remove_cv_t<std::remove_reference_t<R>>;
  if constexpr (IsClass<D>) {
    // An object of a class that is not registered (a slot the host left empty) could not be
    // told from a resource handle once wrapped as type 7: scripts get null instead.
    if constexpr (!std::is_base_of_v<gmResourceHandle, Bare<D>>) {
      if (a_type == GM_UNKNOWN_TYPE) {
        a_thread->PushNull();
        return;
      }
    }
  }
  if constexpr (std::is_same_v<D, bool>) {
    a_thread->PushInt(a_result ? 1 : 0);
  } else if constexpr (std::is_same_v<D, int> || std::is_same_v<D, unsigned int>) {
    a_thread->PushInt(static_cast<gmint>(a_result));
  } else if constexpr (std::is_same_v<D, float>) {
    a_thread->PushFloat(a_result);
  } else if constexpr (IsText<D>) {
    // The native's own buffer, not a copy: the native keeps the text valid.
    a_thread->PushUser(NewUser(a_thread, const_cast<char*>(a_result), GM_CSTRING));
  } else if constexpr (IsTable<D>) {
    if (a_result)
      a_thread->PushTable(a_result);
    else
      a_thread->PushNull();
  } else if constexpr (std::is_pointer_v<D>) {
    // Every call makes a new wrapper, even for an object already wrapped. A native that
    // finds nothing (a lookup by name) gives scripts null, not a wrapper of nothing.
    if (a_result)
      a_thread->PushUser(Wrap(a_thread, a_result, a_type));
    else
      a_thread->PushNull();
  } else if constexpr (std::is_lvalue_reference_v<R>) {
    a_thread->PushUser(Wrap(a_thread, &a_result, a_type));
  } else {
    // A class by value: a heap copy that its wrapper owns.
    D* copy = new D(std::forward<R>(a_result));
    gmUserObject* user = NewUser(a_thread, ToUser(copy), a_type);
    OwnNative(
        a_thread, user, [](void* a_p) { delete FromUser<D>(a_p); }, 0);
    a_thread->PushUser(user);
  }
}

}  // namespace gmMarshal

// ---- Proxies ----------------------------------------------------------------------------

// Fills the type resolvers of a proxy from its signature.
template <class C, class R, class... A>
class gmTypedProxy : public gmProxy {
 public:
  static_assert(sizeof...(A) <= MAX_PARAMS, "a bound function takes at most ten parameters");
  gmTypedProxy() {
    numParams = static_cast<int>(sizeof...(A));
    m_classResolver = &gmMarshal::ClassTypeId<C>;
    m_resultResolver = &gmMarshal::TypeOf<R>;
    gmTypeResolver params[] = {&gmMarshal::TypeOf<A>..., nullptr};
    for (int i = 0; i < numParams; ++i) m_paramResolvers[i] = params[i];
  }

 protected:
  // Reads every argument; false when one refuses.
  template <size_t... I>
  bool ReadArgs(gmThread* a_thread, int a_first, std::tuple<gmMarshal::Arg<std::remove_cv_t<A>>...>& a_args,
                std::index_sequence<I...>) {
    (void)a_thread;
    (void)a_first;
    return (std::get<I>(a_args).Read(a_thread, *this, static_cast<int>(I),
                                     a_thread->Param(a_first + static_cast<int>(I))) &&
            ...);
  }
};

// A method or operator: kinds 2 and 5. F is the member-function pointer type (const
// members are accepted for convenience; the proxy still reports a non-const member).
template <int KIND, class C, class F, class R, class... A>
class gmFuncProxy final : public gmTypedProxy<C, R, A...> {
 public:
  gmFuncProxy(const char* a_name, F a_function) : m_function(a_function) { this->name = a_name; }
  int GetKind() const override { return KIND; }

  int Call(gmThread* a_thread, void* a_native, int a_firstArg) override {
    return Invoke(a_thread, a_native, a_firstArg, std::index_sequence_for<A...>{});
  }

 private:
  template <size_t... I>
  int Invoke(gmThread* a_thread, void* a_native, int a_first, std::index_sequence<I...> a_seq) {
    std::tuple<gmMarshal::Arg<std::remove_cv_t<A>>...> args;
    if (a_thread->GetNumParams() - a_first != static_cast<int>(sizeof...(A)) || !a_native || !m_function ||
        !this->ReadArgs(a_thread, a_first, args, a_seq)) {
      a_thread->PushNull();
      return GM_NATIVE_OK;
    }
    C* self = static_cast<C*>(a_native);
    if constexpr (std::is_void_v<R>) {
      (self->*m_function)(std::get<I>(args).Get()...);
      a_thread->PushNull();
    } else {
      gmMarshal::PushResult<R>(a_thread, (self->*m_function)(std::get<I>(args).Get()...), this->resultType);
    }
    return GM_NATIVE_OK;
  }

  F m_function;
};

// A constructor, kind 3: a new C from the converted arguments, wrapped in a new user
// object of C's writable id and counted in the machine's memory (which paces the
// collector). With a_ownedByScripts the wrapper owns the object and gives the bytes back
// when it is collected; a native owned by native code gives them back when it dies
// (gmWrappable::Charge).
template <class C, class... A>
class gmCtorProxy final : public gmTypedProxy<C, C*, A...> {
 public:
  gmCtorProxy(const char* a_name, bool a_ownedByScripts) : m_owned(a_ownedByScripts) { this->name = a_name; }
  int GetKind() const override { return gmProxy::KIND_CONSTRUCTOR; }
  int Call(gmThread* a_thread, void*, int a_firstArg) override {
    return Invoke(a_thread, a_firstArg, std::index_sequence_for<A...>{});
  }

 private:
  template <size_t... I>
  int Invoke(gmThread* a_thread, int a_first, std::index_sequence<I...> a_seq) {
    std::tuple<gmMarshal::Arg<std::remove_cv_t<A>>...> args;
    if (a_thread->GetNumParams() - a_first != static_cast<int>(sizeof...(A)) ||
        !this->ReadArgs(a_thread, a_first, args, a_seq)) {
      a_thread->PushNull();
      return GM_NATIVE_OK;
    }
    C* object = new C(std::get<I>(args).Get()...);
    gmUserObject* user = gmMarshal::Wrap(a_thread, object, this->classType);
    if (!user) {
      delete object;
      a_thread->PushNull();
      return GM_NATIVE_OK;
    }
    if (m_owned) {
      gmMarshal::CountMemory(a_thread, static_cast<int>(sizeof(C)));
      gmMarshal::OwnNative(
          a_thread, user, [](void* a_p) { delete gmMarshal::FromUser<C>(a_p); }, static_cast<int>(sizeof(C)));
    } else if constexpr (std::is_base_of_v<gmWrappable, C>) {
      object->Charge(gmMarshal::MachineOf(a_thread), static_cast<int>(sizeof(C)));
    } else {
      gmMarshal::CountMemory(a_thread, static_cast<int>(sizeof(C)));
    }
    a_thread->PushUser(user);
    return GM_NATIVE_OK;
  }

  bool m_owned;
};

// A constructor that calls a static function of C instead of new: the function returns the
// object to wrap, a new one or one that exists already (a component constructed twice for
// the same owner is the one component), or null after logging why none can be made. The
// object stays owned by native code.
template <class C, class... A>
class gmFactoryCtorProxy final : public gmTypedProxy<C, C*, A...> {
 public:
  typedef C* (*Factory)(A...);
  gmFactoryCtorProxy(const char* a_name, Factory a_factory) : m_factory(a_factory) { this->name = a_name; }
  int GetKind() const override { return gmProxy::KIND_CONSTRUCTOR; }
  int Call(gmThread* a_thread, void*, int a_firstArg) override {
    return Invoke(a_thread, a_firstArg, std::index_sequence_for<A...>{});
  }

 private:
  template <size_t... I>
  int Invoke(gmThread* a_thread, int a_first, std::index_sequence<I...> a_seq) {
    std::tuple<gmMarshal::Arg<std::remove_cv_t<A>>...> args;
    C* object = nullptr;
    if (a_thread->GetNumParams() - a_first == static_cast<int>(sizeof...(A)) &&
        this->ReadArgs(a_thread, a_first, args, a_seq))
      object = m_factory(std::get<I>(args).Get()...);
    if (object)
      a_thread->PushUser(gmMarshal::Wrap(a_thread, object, this->classType));
    else
      a_thread->PushNull();
    return GM_NATIVE_OK;
  }

  Factory m_factory;
};

// The constructor of a module singleton (Graphics, Input, ...): the first call creates the
// module and records it in its process-wide pointer; later calls wrap that same module
// again instead of replacing it, since the device, the event receiver and the other state
// the game runs on belong to the first one.
template <class C>
class gmModuleCtorProxy final : public gmTypedProxy<C, C*> {
 public:
  gmModuleCtorProxy(const char* a_name, C** a_instance) : m_instance(a_instance) { this->name = a_name; }
  int GetKind() const override { return gmProxy::KIND_CONSTRUCTOR; }
  int Call(gmThread* a_thread, void*, int a_firstArg) override {
    if (a_thread->GetNumParams() != a_firstArg) {
      a_thread->PushNull();
      return GM_NATIVE_OK;
    }
    if (!*m_instance) {
      *m_instance = new C();
      gmMarshal::CountMemory(a_thread, static_cast<int>(sizeof(C)));
    }
    a_thread->PushUser(gmMarshal::NewUser(a_thread, gmMarshal::ToUser(*m_instance), this->classType));
    return GM_NATIVE_OK;
  }

 private:
  C** m_instance;
};

#endif
