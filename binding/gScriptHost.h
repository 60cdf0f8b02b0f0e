#ifndef GSCRIPTHOST_H
#define GSCRIPTHOST_H

// The one object that owns the script machine, the package checksum and the developer
// flag. Build creates the machine and registers the whole script API in its fixed order;
// the player and the command-line runner build it the same way, so a script sees the same
// names, ids and overloads in both.

#include <memory>
#include <string>

#include "binding/gmMachineEx.h"

// The native types in registration order; each takes two consecutive ids from 13 on, so
// the order fixes every id. A slot the host leaves empty (tests offer only some subsystems)
// keeps its place: Build defines its two ids under its script name with nothing bound, so
// later ids do not move. A subsystem fills its slot (gScriptApi::types) and nothing else.
enum gScriptTypeSlot {
  SLOT_VECTOR3,            // 13 Vector3
  SLOT_GRAPHICS,           // 15 _Graphics,       then "global Graphics = _Graphics();"
  SLOT_INPUT,              // 17 _Input,          then "global Input = _Input();"
  SLOT_WIIMOTE,            // 19 _Wiimote
  SLOT_AUDIO,              // 21 _Audio,          then "global Audio = _Audio();"
  SLOT_CLOCK,              // 23 _Clock,          then "global Clock = _Clock();"
  SLOT_NETWORK,            // 25 _Network,        then "global Network = _Network();"
  SLOT_SYSTEM,             // 27 _System,         then "global System = _System();"
  SLOT_COUNTER,            // 29 Counter
  SLOT_SCENE,              // 31 _Scene
  SLOT_SCE_PHYSICS,        // 33 _ScePhysics
  SLOT_SCE_GRAPHICS,       // 35 _SceGraphics
  SLOT_OBJECT,             // 37 _Object
  SLOT_OBJ_PHYSICS,        // 39 _ObjPhysics
  SLOT_OBJ_PHY_SPHERE,     // 41 _ObjPhySphere
  SLOT_OBJ_PHY_BOX,        // 43 _ObjPhyBox
  SLOT_OBJ_PHY_CAPSULE,    // 45 _ObjPhyCapsule
  SLOT_OBJ_PHY_CLOTH,      // 47 _ObjPhyCloth
  SLOT_OBJ_GRAPHICS,       // 49 _ObjGraphics
  SLOT_OBJ_GRA_LIGHT,      // 51 _ObjGraLight
  SLOT_OBJ_GRA_CAMERA,     // 53 _ObjGraCamera
  SLOT_OBJ_GRA_MESH,       // 55 _ObjGraMesh
  SLOT_OBJ_GRA_BILLBOARD,  // 57 _ObjGraBillboard
  SLOT_OBJ_GRA_PARTICLES,  // 59 _ObjGraParticles
  SLOT_OBJ_GRA_BEAM,       // 61 _ObjGraBeam
  SLOT_OBJ_AUDIO,          // 63 _ObjAudio,       then the prelude function Object
  SLOT_OBJ_AUD_SOURCE,     // 65 _ObjAudSource,   then the prelude function AudioSource
  SLOT_COUNT
};

// Registers one native type with gmNativeType and returns its writable id.
typedef int (*gScriptTypeRegistrar)(gmMachineEx* a_machine);

// What a build of the program can register. The default holds what binding/ itself
// provides (Vector3 and _System); the host adds the subsystems' registrars.
struct gScriptApi {
  gScriptTypeRegistrar types[SLOT_COUNT] = {};
  gScriptApi();
};

// The script name and id of a slot, and the script line run right after it (or null).
struct gScriptTypeSlotInfo {
  const char* name;
  int typeId;
  const char* lineAfter;
};
const gScriptTypeSlotInfo& gGetScriptTypeSlot(int a_slot);

class gScriptHost {
 public:
  // Loads, compiles and runs a script file of the package; true when it was found and
  // compiled. Set by the host once the package can be read (LoadScript uses it).
  typedef bool (*ScriptLoader)(gScriptHost* a_host, const char* a_name);

  gScriptHost() = default;
  ~gScriptHost();
  gScriptHost(const gScriptHost&) = delete;
  gScriptHost& operator=(const gScriptHost&) = delete;

  // The registration pass: records the flag, creates the machine in debug mode, then the
  // math library, NewScene, Random and LoadScript, the native types in slot order (each
  // followed by its line), and the constant globals. Runs once per host.
  void Build(bool a_developer, const gScriptApi& a_api = gScriptApi());

  gmMachineEx* GetMachine() const { return m_machine; }
  // Hands ownership of the machine to the caller (the player keeps it beside its other
  // handles and destroys it last); GetMachine still returns it.
  std::unique_ptr<gmMachine> ReleaseMachine();

  // The most recently built host that is still alive, or null.
  static gScriptHost* Current();

  bool developer = false;
  // "dev", the package's SHA-1 in upper-case hexadecimal, or empty (written when the
  // package is mounted).
  std::string checksum;
  ScriptLoader loadScript = nullptr;

 private:
  void RegisterGlobalFunctions();
  void RegisterTypes(const gScriptApi& a_api);

  gmMachineEx* m_machine = nullptr;
  std::unique_ptr<gmMachineEx> m_ownedMachine;
};

#endif
