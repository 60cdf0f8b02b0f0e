#include "binding/gScriptHost.h"

#include "binding/_gSystem.h"
#include "binding/gPrelude.h"
#include "binding/gPreludeTexts.h"
#include "binding/gScriptConstants.h"
#include "binding/gVector3.h"
#include "script/lib/gmLibNumbers.h"
#include "script/lib/gmMathLib.h"

namespace {

struct SlotEntry {
  gScriptTypeSlotInfo info;
  // The line creates a module object and so needs its type; the prelude functions only
  // define functions and are run whether or not their types exist yet.
  bool needsType;
};

// The registration order. The ids are what the order gives; they are listed so that a
// slot's place can be checked at a glance.
const SlotEntry kSlots[SLOT_COUNT] = {
    {{"Vector3", 13, nullptr}, false},
    {{"_Graphics", 15, "global Graphics = _Graphics();"}, true},
    {{"_Input", 17, "global Input = _Input();"}, true},
    {{"_Wiimote", 19, nullptr}, false},
    {{"_Audio", 21, "global Audio = _Audio();"}, true},
    {{"_Clock", 23, "global Clock = _Clock();"}, true},
    {{"_Network", 25, "global Network = _Network();"}, true},
    {{"_System", 27, "global System = _System();"}, true},
    {{"Counter", 29, nullptr}, false},
    {{"_Scene", 31, nullptr}, false},
    {{"_ScePhysics", 33, nullptr}, false},
    {{"_SceGraphics", 35, nullptr}, false},
    {{"_Object", 37, nullptr}, false},
    {{"_ObjPhysics", 39, nullptr}, false},
    {{"_ObjPhySphere", 41, nullptr}, false},
    {{"_ObjPhyBox", 43, nullptr}, false},
    {{"_ObjPhyCapsule", 45, nullptr}, false},
    {{"_ObjPhyCloth", 47, nullptr}, false},
    {{"_ObjGraphics", 49, nullptr}, false},
    {{"_ObjGraLight", 51, nullptr}, false},
    {{"_ObjGraCamera", 53, nullptr}, false},
    {{"_ObjGraMesh", 55, nullptr}, false},
    {{"_ObjGraBillboard", 57, nullptr}, false},
    {{"_ObjGraParticles", 59, nullptr}, false},
    {{"_ObjGraBeam", 61, nullptr}, false},
    {{"_ObjAudio", 63, gPreludeText::Object}, false},
    {{"_ObjAudSource", 65, gPreludeText::AudioSource}, false},
};

// The class behind a slot the host left empty.
struct gUnbuiltType {};

gScriptHost* s_current = nullptr;

// Random(low = 0, high = 1): a float from low to high (between high and low when high is
// the smaller). Arguments that are not numbers take their defaults.
int Random(gmThread* a_thread) {
  auto number = [a_thread](int a_index, gmfloat a_default) {
    const gmVariable& v = a_thread->Param(a_index);
    if (v.IsInt()) return static_cast<gmfloat>(v.GetInt());
    if (v.IsFloat()) return v.GetFloat();
    return a_default;
  };
  const gmfloat low = number(0, 0.0f);
  const gmfloat high = number(1, 1.0f);
  const gmfloat r = static_cast<gmfloat>(gmRand());
  a_thread->PushFloat(low + r * (high - low) * (1.0f / 32767.0f));
  return GM_NATIVE_OK;
}

// LoadScript(name): loads, compiles and runs a script of the package; returns nothing,
// whatever the outcome. The host rides in the function's user value.
int LoadScript(gmThread* a_thread) {
  gScriptHost* host = reinterpret_cast<gScriptHost*>(a_thread->GetFunctionObject()->userValue);
  const char* name = a_thread->ParamString(0, "");
  if (host && host->loadScript)
    host->loadScript(host, name);
  else
    a_thread->GetMachine()->GetLog().LogEntry("LoadScript: no package to load %s from", name);
  return GM_NATIVE_OK;
}

}  // namespace

gScriptApi::gScriptApi() {
  types[SLOT_VECTOR3] = &gVector3::RegisterScriptType;
  types[SLOT_SYSTEM] = &_gSystem::RegisterScriptType;
}

const gScriptTypeSlotInfo& gGetScriptTypeSlot(int a_slot) { return kSlots[a_slot].info; }

gScriptHost::~gScriptHost() {
  if (s_current == this) s_current = nullptr;
}

gScriptHost* gScriptHost::Current() { return s_current; }

std::unique_ptr<gmMachine> gScriptHost::ReleaseMachine() {
  return std::unique_ptr<gmMachine>(m_ownedMachine.release());
}

void gScriptHost::Build(bool a_developer, const gScriptApi& a_api) {
  s_current = this;
  developer = a_developer;
  m_ownedMachine.reset(new gmMachineEx());
  m_machine = m_ownedMachine.get();
  // Compiled functions keep their debug information, so errors name their source line.
  m_machine->debugMode = true;
  gmBindMathLib(m_machine);
  RegisterGlobalFunctions();
  RegisterTypes(a_api);
  gSetScriptConstants(m_machine);
}

void gScriptHost::RegisterGlobalFunctions() {
  const gmFunctionEntry entries[] = {
      {"NewScene", gPrelude::NewScene, 0, "name"},
      {"Random", Random, 0, "[low], [high]"},
      {"LoadScript", LoadScript, reinterpret_cast<gmptr>(this), "fileName"},
  };
  m_machine->RegisterNatives(entries, 3);
}

void gScriptHost::RegisterTypes(const gScriptApi& a_api) {
  gmMachineEx* machine = m_machine;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const SlotEntry& entry = kSlots[slot];
    const bool built = a_api.types[slot] != nullptr;
    if (built) {
      a_api.types[slot](machine);
    } else {
      int type = machine->BeginNativeType(entry.info.name);
      machine->EndNativeType(type, typeid(gUnbuiltType*), typeid(const gUnbuiltType*));
    }
    if (entry.info.lineAfter && (built || !entry.needsType)) machine->RunString(entry.info.lineAfter);
    if (entry.info.lineAfter == gPreludeText::Object) gPrelude::KeepObjectRecipe(machine);
  }
}
