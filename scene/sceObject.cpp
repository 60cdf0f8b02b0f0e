#include "scene/sceObject.h"

#include <vector>

#include "binding/gmNativeType.h"
#include "scene/gScene.h"
#include "scene/gScriptCall.h"
#include "script/values/gmUserObject.h"

sceObject::ComponentHooks sceObject::componentHooks;
int sceObject::scriptType = 0;

sceObject::sceObject(gScene* a_scene) : scene(a_scene) {
  if (!scene) return;
  serial = ++scene->appended;
  slot = scene->objects.count;
  scene->objects.Append(this);
}

void sceObject::LeaveScene() {
  gPtrList& objects = scene->objects;
  const int at = objects.RemoveFrom(this, slot);
  if (at >= 0 && at < objects.count) static_cast<sceObject*>(objects.Get(at))->slot = at;
  slot = -1;
}

sceObject::~sceObject() {
  CutWrappers();
  if (scene) LeaveScene();
  if (componentHooks.destroy) componentHooks.destroy(this);
}

int sceObject::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<sceObject> type(a_machine, "_Object");
  type.Constructor<gScene*>();
  type.Method("_Table", &sceObject::_Table);
  type.Method("_Script", &sceObject::_Script);
  type.Method("_Name", &sceObject::_Name);
  type.Method("_Scene", &sceObject::_Scene);
  scriptType = type.Register();
  return scriptType;
}

void sceObject::_Table(gmTableObject* a_table) { table.Set(gScene::machine, a_table); }

void sceObject::_Script(const char* a_function) { scriptFunction = a_function ? a_function : ""; }

void sceObject::_Name(const char* a_name) { name = a_name ? a_name : ""; }

gmTableObject* sceObject::_Scene() { return scene ? scene->table.Get() : nullptr; }

void sceObject::Update() {
  if (!scriptFunction.empty()) {
    gmTableObject* own = table.Get();
    gScriptCall::Global(gScene::machine, scriptFunction.c_str(), {own ? gmVariable(own) : gmVariable::Null()});
  }
  // The function may have deleted this object: it is still whole until the next walk.
  if (componentHooks.sync) componentHooks.sync(this);
}

void sceObject::Destroy() {
  CutWrappers();
  if (scene) {
    LeaveScene();
    scene = nullptr;
  }
  if (componentHooks.destroy) componentHooks.destroy(this);

  gmTableObject* own = table.Get();
  gmMachine* machine = table.GetMachine();
  if (!own || !machine) return;
  // The keys are gathered first, as clearing a member may move the others. An object's own
  // members fit on the stack.
  const size_t count = static_cast<size_t>(own->Count());
  gmVariable few[16];
  std::vector<gmVariable> many;
  if (count > 16) many.resize(count);
  gmVariable* keys = count > 16 ? many.data() : few;
  size_t found = 0;
  gmint cursor = -2;
  while (const gmTableNode* node = own->Next(cursor))
    if (found < count) keys[found++] = node->key;
  for (size_t i = 0; i < found; ++i) own->Set(machine, keys[i], gmVariable::Null());
  table.Release();
}
