#ifndef GPRELUDE_H
#define GPRELUDE_H

// The thin layer of script text that turns scenes and objects into tables: the texts live
// in binding/prelude/*.qv; these functions fill their "%s" holes and run them.

#include <cstddef>
#include <string>

#include "script/gc/gmGCRoot.h"

class gmFunctionObject;
class gmMachine;
class gmMachineEx;
class gmStringObject;
class gmThread;

namespace gPrelude {

// The longest texts NewScene and a scene's _NewObject / _NewCloth may compose; a name that
// would make a text longer is rejected and nothing runs.
const std::size_t kSceneTextMax = 1023;
const std::size_t kObjectTextMax = 255;

// Replaces the "%s" holes of a_template, in order, by a_args (a_count of them; holes
// beyond them stay empty). False when the result would exceed a_max characters.
bool Compose(const char* a_template, const char* const* a_args, int a_count, std::string& a_out, std::size_t a_max);

// A plain identifier: a letter or "_", then letters, digits and "_". Names are pasted into
// the texts as code, so nothing else may reach them.
bool IsPlainName(const char* a_name);

// The global function NewScene(name).
int NewScene(gmThread* a_thread);

// What a scene's _NewObject runs: creates object a_object in the scene whose global is
// a_scene and names it. False when the text was rejected or did not compile; the scene
// then looks for the object it should have appended.
bool RunNewObject(gmMachineEx* a_machine, const char* a_scene, const char* a_object);
// The object text of RunNewObject, compiled: null, after the log has said why, when a name
// is not plain, makes the text too long or does not compile. Objects are made many times a
// frame under the same few names, so the text is compiled once per distinct text (it holds
// no function literal, so a kept compilation behaves exactly as a fresh one).
gmFunctionObject* ObjectText(gmMachineEx* a_machine, const char* a_scene, const char* a_object);

// Object as the prelude defined it, with everything its text reaches by name: a scene that
// makes an object natively does so only while each of these is still what a script would
// reach, so the two ways cannot be told apart. The roots keep every value from collection,
// so no other value can come to sit at one of these addresses.
struct ObjectRecipe {
  // The names, in the order of kWords in gPrelude.cpp.
  enum Word {
    kObject,
    kCore,
    kPhysics,
    kGraphics,
    kAudio,
    kScript,
    kDelete,
    kObjectCtor,
    kPhysicsCtor,
    kGraphicsCtor,
    kAudioCtor,
    kTableMethod,
    kNameMethod,
    kWordCount
  };
  // Interned member and global names.
  gmGCRoot words[kWordCount];
  // The values those names held: the global Object and the constructors it calls (in its
  // order: _Object, _ObjPhysics, _ObjGraphics, _ObjAudio), the two functions it stores as
  // Script and Delete, and _Object's methods _Table and _Name.
  gmGCRoot object;
  gmGCRoot constructors[4];
  gmGCRoot script;
  gmGCRoot del;
  gmGCRoot tableMethod;
  gmGCRoot nameMethod;
  // The writable ids of _Scene and _Object.
  int sceneType = 0;
  int objectType = 0;

  const gmVariable& At(Word a_word) const { return words[a_word].Get(); }
};

// Takes the recipe from the machine as it stands right after the Object text ran, into
// a_machine->objectRecipe; none when Object or a type it uses is not the host's own.
void KeepObjectRecipe(gmMachineEx* a_machine);

// What a scene's _NewCloth runs, called from that bound method. Scene-level cloth has no
// native type (cloth belongs to an object's physics), so while no global function _Cloth
// exists the call is a script error that says so, rather than the text's own confusing
// failure.
void NewCloth(gmMachineEx* a_machine, const char* a_scene, const char* a_cloth);

}  // namespace gPrelude

#endif
