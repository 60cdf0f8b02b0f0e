#ifndef GMNATIVETYPE_H
#define GMNATIVETYPE_H

// The typed way to expose a native class to scripts. One gmNativeType registers one class:
// constructors, methods and operators are bound in the order they are given, which is the
// order overloads are tried in, and Register ends the class.
//
//   gmNativeType<gVector3> type(machine, "Vector3");
//   type.Constructor<>().Constructor<const gVector3&>().Constructor<float, float, float>();
//   type.Method<float>("X", &gVector3::X).Method<void, float>("X", &gVector3::X);
//   type.Operator<gVector3, const gVector3&>("+", &gVector3::operator+);
//   int id = type.Register();
//
// A name bound twice becomes one script function with two overloads. Overloaded member
// functions are picked by spelling the result and parameter types, as above. Operator
// texts are those of gmOperatorFromText; an operator without parameters is unary.

#include <typeinfo>

#include "binding/gmMachineEx.h"

template <class C>
class gmNativeType {
 public:
  gmNativeType(gmMachineEx* a_machine, const char* a_name)
      : m_machine(a_machine), m_type(a_machine->BeginNativeType(a_name)) {}

  int GetType() const { return m_type; }

  // Objects made by this class's constructors are owned by their script wrappers and freed
  // with them (value types nothing native keeps a pointer to). Call before Constructor.
  gmNativeType& OwnedByScripts() {
    m_owned = true;
    return *this;
  }

  template <class... A>
  gmNativeType& Constructor() {
    m_machine->AddConstructor(m_type, new gmCtorProxy<C, A...>(m_machine->TypeName(m_type), m_owned));
    return *this;
  }

  // A constructor that asks a_factory for the object (gmFactoryCtorProxy): components use it
  // so that constructing one twice for one owner gives the existing component.
  template <class... A>
  gmNativeType& FactoryConstructor(C* (*a_factory)(A...)) {
    m_machine->AddConstructor(m_type, new gmFactoryCtorProxy<C, A...>(m_machine->TypeName(m_type), a_factory));
    return *this;
  }

  // The constructor of a module singleton whose process-wide pointer is *a_instance.
  gmNativeType& ModuleConstructor(C** a_instance) {
    m_machine->AddConstructor(m_type, new gmModuleCtorProxy<C>(m_machine->TypeName(m_type), a_instance));
    return *this;
  }

  template <class R, class... A>
  gmNativeType& Method(const char* a_name, R (C::*a_function)(A...)) {
    typedef R (C::*F)(A...);
    m_machine->AddMethod(m_type, a_name, new gmFuncProxy<gmProxy::KIND_METHOD, C, F, R, A...>(a_name, a_function));
    return *this;
  }
  template <class R, class... A>
  gmNativeType& Method(const char* a_name, R (C::*a_function)(A...) const) {
    typedef R (C::*F)(A...) const;
    m_machine->AddMethod(m_type, a_name, new gmFuncProxy<gmProxy::KIND_METHOD, C, F, R, A...>(a_name, a_function));
    return *this;
  }

  template <class R, class... A>
  gmNativeType& Operator(const char* a_text, R (C::*a_function)(A...)) {
    typedef R (C::*F)(A...);
    AddOperator(a_text, sizeof...(A) == 0, new gmFuncProxy<gmProxy::KIND_OPERATOR, C, F, R, A...>(a_text, a_function));
    return *this;
  }
  template <class R, class... A>
  gmNativeType& Operator(const char* a_text, R (C::*a_function)(A...) const) {
    typedef R (C::*F)(A...) const;
    AddOperator(a_text, sizeof...(A) == 0, new gmFuncProxy<gmProxy::KIND_OPERATOR, C, F, R, A...>(a_text, a_function));
    return *this;
  }

  // Ends the class; returns its writable id.
  int Register() {
    m_machine->EndNativeType(m_type, typeid(C*), typeid(const C*));
    return m_type;
  }

 private:
  void AddOperator(const char* a_text, bool a_unary, gmProxy* a_proxy) {
    m_machine->AddOperator(m_type, gmOperatorFromText(a_text, a_unary), a_proxy);
  }

  gmMachineEx* m_machine;
  int m_type;
  bool m_owned = false;
};

#endif
