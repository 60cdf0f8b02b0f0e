#include "scene/gScene.h"

#include "binding/gPrelude.h"
#include "binding/gmNativeType.h"
#include "scene/sceObject.h"
#include "script/vm/gmThread.h"

gmMachineEx* gScene::machine = nullptr;
int gScene::scriptType = 0;

// Never destroyed, like the scenes: they stay reachable until the process is gone.
gPtrList& gScene::Registry() {
  static gPtrList* registry = new gPtrList();
  return *registry;
}

void gScene::UpdateAll() {
  gPtrList& registry = Registry();
  for (void* scene = registry.First(); scene; scene = registry.Next()) static_cast<gScene*>(scene)->Update();
}

void gScene::DestroyAll() {
  gPtrList& registry = Registry();
  while (registry.count > 0) delete static_cast<gScene*>(registry.Get(registry.count - 1));
}

gScene::gScene() { Registry().Append(this); }

gScene::~gScene() {
  CutWrappers();
  while (objects.count > 0) delete static_cast<sceObject*>(objects.Get(objects.count - 1));
  Registry().Remove(this);
}

int gScene::RegisterScriptType(gmMachineEx* a_machine) {
  machine = a_machine;
  gmNativeType<gScene> type(a_machine, "_Scene");
  type.Constructor<>();
  type.Method("_NewObject", &gScene::_NewObject);
  type.Method("_NewCloth", &gScene::_NewCloth);
  type.Method("_Name", &gScene::_Name);
  type.Method("_DelObject", &gScene::_DelObject);
  type.Method("_Table", &gScene::_Table);
  scriptType = type.Register();
  return scriptType;
}

gmTableObject* gScene::_NewObject(const char* a_name) {
  const unsigned before = appended;
  const char* object = a_name ? a_name : "";
  // The text is compiled even when it is not run: it is what tells a name that makes valid
  // code (not a keyword, within the length) from one that is refused. A game makes its
  // objects under a few names, so the last name that made valid code is remembered.
  const bool valid = !m_validObjectName.empty() && m_validObjectName == object;
  if (!valid || !MakeObjectNatively()) {
    if (gmFunctionObject* text = gPrelude::ObjectText(machine, name.c_str(), object)) {
      if (!valid) {
        m_validObjectName = object;
        m_validObjectKey.Set(machine, gmVariable(machine->MakeString(object)));
      }
      if (valid || !MakeObjectNatively()) machine->RunFunction(text);
    }
  }
  // Serials are unique, and the object this call appended is normally the last one.
  for (int i = objects.count - 1; i >= 0; --i) {
    sceObject* made = static_cast<sceObject*>(objects.Get(i));
    if (made->serial == before + 1) return made->table.Get();
  }
  return nullptr;
}

// The object text "S.N = Object(S); S.N._core._Name("N");" with Object's own text, step by
// step. It is taken only while every name they read still holds what the prelude defined
// (Object, the four constructors, _Object's _Table and _Name), the scene global holds a table
// whose _core is a live scene with physics and graphics (so no constructor can fail and no
// error position is ever reported), no hook watches lines, calls or threads, and neither the
// nesting of runs nor the memory cap can stop it halfway. Then the effects, their order, the
// members and their insertion order, and the values stored are those of the text; the work
// is done on a thread of its own, as the text's run would be, so thread ids go on as before.
bool gScene::MakeObjectNatively() {
  gmMachineEx* const m = machine;
  const gPrelude::ObjectRecipe* recipe = m->objectRecipe.get();
  if (!recipe || recipe->sceneType != scriptType || recipe->objectType != sceObject::scriptType) return false;
  if (m->debugThreadStart || m->debugLine || m->debugCall || m->debugReturn || gmMachine::s_machineCallback)
    return false;
  if (m->nestedRuns >= gmMachine::MAX_NESTED_RUNS) return false;
  using R = gPrelude::ObjectRecipe;
  auto same = [](const gmVariable& a_value, const gmGCRoot& a_kept) {
    return a_value.type == a_kept.Get().type && a_value.value.ref == a_kept.Get().value.ref;
  };

  gmTableObject* globals = m->GetGlobals();
  if (m_nameKey.IsNull()) m_nameKey.Set(m, gmVariable(m->MakeString(name.c_str())));
  const gmVariable& objectKey = m_validObjectKey.Get();
  if (objectKey.type != GM_STRING) return false;
  const gmVariable sceneValue = globals->Get(m_nameKey.Get());
  if (!sceneValue.IsTable()) return false;
  gmTableObject* sceneTable = sceneValue.GetTableObject();
  if (!same(globals->Get(recipe->At(R::kObject)), recipe->object)) return false;
  const gmVariable core = sceneTable->Get(recipe->At(R::kCore));
  if (core.type != scriptType) return false;
  const gScene* target = static_cast<const gScene*>(core.GetUserObject()->user);
  if (!target || !target->physics || !target->graphics) return false;
  for (int i = 0; i < 4; ++i)
    if (!same(globals->Get(recipe->At(R::Word(R::kObjectCtor + i))), recipe->constructors[i])) return false;
  gmTableObject* methods = m->GetTypeVariables(sceObject::scriptType);
  if (!same(methods->Get(recipe->At(R::kTableMethod)), recipe->tableMethod) ||
      !same(methods->Get(recipe->At(R::kNameMethod)), recipe->nameMethod))
    return false;
  // Generous room for the new values and for the scene table doubling its members.
  const long long room = 64 * 1024 + 64LL * sceneTable->Count();
  if (m->GetCurrentMemoryUsage() + room > m->memoryCap) return false;

  gmThread* thread = m->NewThread();
  // The stack keeps the values the steps make from the collector: the object's wrapper at 0,
  // its table at 1, each component as it is stored at 2.
  // A constructor called with one argument, its result left on top of the stack; false when
  // the call failed (the text's run would stop there too).
  auto construct = [&](int a_ctor, const gmVariable& a_argument) {
    thread->PushNull();
    thread->PushFunction(recipe->constructors[a_ctor].GetFunction());
    thread->PushValue(a_argument);
    const int state = thread->PushCall(1);
    return state == gmThread::CALL_OK || state == gmThread::KILLED;
  };
  const gmVariable user = construct(0, core) ? thread->GetBottom()[0] : gmVariable::Null();
  sceObject* made = user.type == sceObject::scriptType ? static_cast<sceObject*>(user.GetUserObject()->user) : nullptr;
  gmTableObject* members = made ? m->MakeTable() : nullptr;
  if (members) {
    thread->PushTable(members);
    members->Set(m, recipe->At(R::kCore), user);
    for (int i = 1; i < 4 && members; ++i) {
      if (construct(i, user))
        members->Set(m, recipe->At(R::Word(R::kCore + i)), thread->GetBottom()[2]);
      else
        members = nullptr;
      thread->SetTopIndex(2);
    }
  }
  if (members) {
    made->_Table(members);
    members->Set(m, recipe->At(R::kScript), recipe->script.Get());
    members->Set(m, recipe->At(R::kDelete), recipe->del.Get());
    sceneTable->Set(m, objectKey, gmVariable(members));
    made->_Name(m_validObjectName.c_str());
  }
  thread->SetTopIndex(0);
  m->SwitchThreadState(thread, gmThread::KILLED);
  return true;
}

void gScene::_NewCloth(const char* a_name) {
  if (machine) gPrelude::NewCloth(machine, name.c_str(), a_name ? a_name : "");
}

void gScene::_Name(const char* a_name) {
  name = a_name ? a_name : "";
  m_nameKey.Release();
  m_validObjectName.clear();
  m_validObjectKey.Release();
}

void gScene::_Table(gmTableObject* a_table) { table.Set(machine, a_table); }

void gScene::_DelObject(gmTableObject* a_table) {
  if (!a_table) return;
  for (int i = 0; i < objects.count; ++i) {
    sceObject* object = static_cast<sceObject*>(objects.Get(i));
    if (object && object->table.Get() == a_table) {
      object->deleted = 1;
      return;
    }
  }
}

void gScene::Update() {
  for (void* item = objects.First(); item; item = objects.Next()) {
    sceObject* object = static_cast<sceObject*>(item);
    if (object->deleted) {
      object->Destroy();
      delete object;
    } else {
      object->Update();
    }
  }
}
