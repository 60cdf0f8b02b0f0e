#include "binding/gPrelude.h"

#include <cstring>
#include <memory>

#include "binding/gPreludeTexts.h"
#include "binding/gmMachineEx.h"
#include "script/vm/gmMachine.h"

namespace gPrelude {

bool Compose(const char* a_template, const char* const* a_args, int a_count, std::string& a_out, std::size_t a_max) {
  a_out.clear();
  a_out.reserve(a_max + 1);
  int next = 0;
  const char* p = a_template;
  while (*p) {
    const char* hole = std::strstr(p, "%s");
    const std::size_t plain = hole ? static_cast<std::size_t>(hole - p) : std::strlen(p);
    a_out.append(p, plain);
    if (a_out.size() > a_max) return false;
    if (!hole) break;
    if (next < a_count && a_args[next]) a_out += a_args[next];
    ++next;
    if (a_out.size() > a_max) return false;
    p = hole + 2;
  }
  return true;
}

bool IsPlainName(const char* a_name) {
  if (!a_name) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!letter(a_name[0])) return false;
  for (const char* p = a_name + 1; *p; ++p)
    if (!letter(*p) && !(*p >= '0' && *p <= '9')) return false;
  return true;
}

int NewScene(gmThread* a_thread) {
  const char* name = a_thread->ParamString(0, "");
  if (!IsPlainName(name)) {
    a_thread->GetMachine()->GetLog().LogEntry("NewScene: \"%.40s\" is not a plain name; no scene was made", name);
    return GM_NATIVE_OK;
  }
  const char* const args[] = {name, name, name, name, name, name, name, name, name, name, name};
  std::string text;
  if (!Compose(gPreludeText::NewScene, args, 11, text, kSceneTextMax)) {
    a_thread->GetMachine()->GetLog().LogEntry("NewScene: the name \"%.40s...\" is too long; no scene was made", name);
    return GM_NATIVE_OK;
  }
  a_thread->GetMachine()->RunString(text.c_str());
  return GM_NATIVE_OK;
}

gmFunctionObject* ObjectText(gmMachineEx* a_machine, const char* a_scene, const char* a_object) {
  if (!IsPlainName(a_scene) || !IsPlainName(a_object)) {
    a_machine->GetLog().LogEntry("NewObject: \"%.40s\" in scene \"%.40s\" is not a plain name; no object was made",
                                 a_object, a_scene);
    return nullptr;
  }
  const char* const args[] = {a_scene, a_object, a_scene, a_scene, a_object, a_object};
  std::string text;
  if (!Compose(gPreludeText::NewObject, args, 6, text, kObjectTextMax)) {
    a_machine->GetLog().LogEntry("NewObject: the name \"%.40s\" is too long for scene \"%.40s\"; no object was made",
                                 a_object, a_scene);
    return nullptr;
  }
  return a_machine->KeptString(text);
}

bool RunNewObject(gmMachineEx* a_machine, const char* a_scene, const char* a_object) {
  gmFunctionObject* text = ObjectText(a_machine, a_scene, a_object);
  if (!text) return false;
  a_machine->RunFunction(text);
  return true;
}

namespace {

const char* const kWords[ObjectRecipe::kWordCount] = {
    "Object",  "_core",       "Physics",      "Graphics",  "Audio",  "Script", "Delete",
    "_Object", "_ObjPhysics", "_ObjGraphics", "_ObjAudio", "_Table", "_Name",
};

int TypeNamed(gmMachine* a_machine, const char* a_name) {
  for (int type = 0; type < a_machine->GetNumTypes(); ++type)
    if (std::strcmp(a_machine->TypeName(type), a_name) == 0) return type;
  return 0;
}

}  // namespace

void KeepObjectRecipe(gmMachineEx* a_machine) {
  a_machine->objectRecipe.reset();
  auto recipe = std::make_unique<ObjectRecipe>();
  for (int i = 0; i < ObjectRecipe::kWordCount; ++i)
    recipe->words[i].Set(a_machine, gmVariable(a_machine->MakeString(kWords[i])));
  gmTableObject* globals = a_machine->GetGlobals();

  const gmVariable object = globals->Get(recipe->At(ObjectRecipe::kObject));
  if (!object.IsFunction() || object.GetFunctionObject()->IsNative()) return;
  recipe->object.Set(a_machine, object);
  // Object's two function literals: Script takes the function's name, Delete nothing.
  const gmFunctionObject* body = object.GetFunctionObject();
  for (gmint i = 0; i < body->numReferences; ++i) {
    gmObject* reference = body->references[i];
    if (!reference || reference->GetType() != GM_FUNCTION) continue;
    gmFunctionObject* literal = static_cast<gmFunctionObject*>(reference);
    gmGCRoot& slot = literal->numParams == 1 ? recipe->script : recipe->del;
    if (!slot.IsNull()) return;
    slot.Set(a_machine, gmVariable(literal));
  }
  if (recipe->script.IsNull() || recipe->del.IsNull()) return;

  for (int i = 0; i < 4; ++i) {
    const gmVariable constructor = globals->Get(recipe->At(ObjectRecipe::Word(ObjectRecipe::kObjectCtor + i)));
    if (!constructor.IsFunction() || !constructor.GetFunctionObject()->IsNative()) return;
    recipe->constructors[i].Set(a_machine, constructor);
  }
  recipe->sceneType = TypeNamed(a_machine, "_Scene");
  recipe->objectType = TypeNamed(a_machine, "_Object");
  if (recipe->sceneType < GM_FIRST_CLASS_TYPE || recipe->objectType < GM_FIRST_CLASS_TYPE) return;
  gmTableObject* methods = a_machine->GetTypeVariables(recipe->objectType);
  recipe->tableMethod.Set(a_machine, methods->Get(recipe->At(ObjectRecipe::kTableMethod)));
  recipe->nameMethod.Set(a_machine, methods->Get(recipe->At(ObjectRecipe::kNameMethod)));
  if (!recipe->tableMethod.GetFunction() || !recipe->nameMethod.GetFunction()) return;
  a_machine->objectRecipe = std::move(recipe);
}

void NewCloth(gmMachineEx* a_machine, const char* a_scene, const char* a_cloth) {
  if (!IsPlainName(a_scene) || !IsPlainName(a_cloth)) {
    a_machine->GetLog().LogEntry("NewCloth: \"%.40s\" in scene \"%.40s\" is not a plain name; no cloth was made",
                                 a_cloth, a_scene);
    return;
  }
  const char* const args[] = {a_scene, a_cloth, a_scene};
  std::string text;
  if (!Compose(gPreludeText::NewCloth, args, 3, text, kObjectTextMax)) {
    a_machine->GetLog().LogEntry("NewCloth: the name \"%.40s\" is too long for scene \"%.40s\"; no cloth was made",
                                 a_cloth, a_scene);
    return;
  }
  if (!a_machine->GetGlobals()->GetByName(a_machine, "_Cloth").IsFunction()) {
    a_machine->GetLog().LogEntry(
        "%s.NewCloth(\"%s\"): a scene has no cloth of its own; make cloth on an object with Physics.NewCloth", a_scene,
        a_cloth);
    a_machine->FailCurrentCall();
    return;
  }
  a_machine->RunString(text.c_str());
}

}  // namespace gPrelude
