#pragma once
// An object of a scene: a name, the script table that scripts know it by, an optional
// per-frame script function, and its physics, graphics and audio components, which it owns.
#include <string>

#include "binding/gmWrappable.h"
#include "scene/gScriptTable.h"

class gScene;
class gmMachineEx;
class objGraphics;
class objPhysics;
class objAudio;

class sceObject : public gmWrappable {
 public:
  // The parts of the object update and of destruction that reach into the components, whose
  // modules sit above this one; the host sets them (null hooks skip those parts). sync copies
  // the body's pose to the graphics root and the audio sources; destroy frees the graphics,
  // physics and audio components in that order (clearing the listener first) and nulls the
  // fields.
  struct ComponentHooks {
    void (*sync)(sceObject* a_object) = nullptr;
    void (*destroy)(sceObject* a_object) = nullptr;
  };
  static ComponentHooks componentHooks;
  // The writable script type of objects in the machine of the scenes (gScene::machine).
  static int scriptType;

  // Appends the object to a_scene's object list.
  explicit sceObject(gScene* a_scene);
  ~sceObject();
  sceObject(const sceObject&) = delete;
  sceObject& operator=(const sceObject&) = delete;

  static int RegisterScriptType(gmMachineEx* a_machine);

  void _Table(gmTableObject* a_table);
  // The empty text switches the per-frame function off.
  void _Script(const char* a_function);
  void _Name(const char* a_name);
  gmTableObject* _Scene();

  // The object's part of the scene step: its per-frame function with its table, then the
  // body's pose to the graphics node and the audio sources. A component the object was
  // made without takes no part.
  void Update();

  // Takes the object out of its scene and frees its components, then empties its table, so
  // that scripts still holding the table see no members. Every wrapper of the object is cut
  // first, so one a script kept calls nothing.
  void Destroy();

  objGraphics* graphics = nullptr;
  objPhysics* physics = nullptr;
  objAudio* audio = nullptr;
  unsigned char deleted = 0;
  gScene* scene = nullptr;
  gScriptTable table;
  std::string scriptFunction;
  std::string name;
  unsigned serial = 0;
  // Where the object last was in its scene's list (gPtrList::RemoveFrom).
  int slot = -1;

 private:
  void LeaveScene();
};
