#pragma once
// A scene: a named set of objects with one physics world and one scene graph, updated once
// per frame in creation order. The process-wide registry lists every scene; scenes live
// until the game ends.
#include <string>

#include "binding/gmWrappable.h"
#include "scene/gPtrList.h"
#include "scene/gScriptTable.h"

class gmMachineEx;
class sceGraphics;
class scePhysics;
class sceObject;

class gScene : public gmWrappable {
 public:
  // The machine whose scripts the scenes and objects belong to: per-frame functions run in
  // it and the tables that scripts hand over are its tables. The machine the scene type is
  // registered in.
  static gmMachineEx* machine;
  // The writable script type of scenes in that machine.
  static int scriptType;

  static gPtrList& Registry();
  // The scene step of a frame: every scene's Update, in creation order.
  static void UpdateAll();
  // Ends the game's world: every scene with its objects (the player's own exit leaves this
  // to the process; in-process sessions such as tests need a clean registry).
  static void DestroyAll();

  // Registers the scene.
  gScene();
  // Frees the objects without the destruction step (their tables are left as they are).
  ~gScene();
  gScene(const gScene&) = delete;
  gScene& operator=(const gScene&) = delete;

  static int RegisterScriptType(gmMachineEx* a_machine);

  void _Name(const char* a_name);
  void _Table(gmTableObject* a_table);
  // Runs the prelude's object text for this scene's global and returns the table of the
  // object that the call appended; null when it appended none (the text failed).
  gmTableObject* _NewObject(const char* a_name);
  // A scene has no cloth of its own (cloth belongs to an object's physics): while no global
  // _Cloth exists this is a script error saying so.
  void _NewCloth(const char* a_name);
  // Marks the first object of this scene whose table is a_table; none changes nothing.
  // The search leaves the object list's walk cursor alone, so a per-frame function that
  // deletes another object does not disturb the walk in progress.
  void _DelObject(gmTableObject* a_table);

  // One frame of the scene: walks the objects in list order; one marked deleted is
  // destroyed (the last object moves into its place and waits for the next frame), any
  // other is updated. Objects appended during the walk are updated in it.
  void Update();

  sceGraphics* graphics = nullptr;
  scePhysics* physics = nullptr;
  gPtrList objects;
  gScriptTable table;
  std::string name;
  // Counts the objects ever appended; an object's serial is its place in that count, which
  // tells the object one creation call appended from the others.
  unsigned appended = 0;

 private:
  // What the object text for the last valid name does when it runs, done natively; false,
  // having done nothing, when a script could tell the two ways apart (see gScene.cpp).
  bool MakeObjectNatively();

  // The last object name whose text compiled under the scene's present name, and both names
  // as the machine's strings.
  std::string m_validObjectName;
  gmGCRoot m_validObjectKey;
  gmGCRoot m_nameKey;
};
