#include "scene/gScene.h"

#include "binding/gPrelude.h"
#include "binding/gmNativeType.h"
#include "scene/sceObject.h"

gmMachineEx* gScene::machine = nullptr;

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
  return type.Register();
}

gmTableObject* gScene::_NewObject(const char* a_name) {
  const unsigned before = appended;
  gPrelude::RunNewObject(machine, name.c_str(), a_name ? a_name : "");
  // Serials are unique, and the object this call appended is normally the last one.
  for (int i = objects.count - 1; i >= 0; --i) {
    sceObject* object = static_cast<sceObject*>(objects.Get(i));
    if (object->serial == before + 1) return object->table.Get();
  }
  return nullptr;
}

void gScene::_NewCloth(const char* a_name) {
  if (machine) gPrelude::NewCloth(machine, name.c_str(), a_name ? a_name : "");
}

void gScene::_Name(const char* a_name) { name = a_name ? a_name : ""; }

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
