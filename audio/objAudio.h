#pragma once
// The audio component of a scene object: the sources that sound from it, which it owns and
// which follow its body. An object has at most one; its destruction deletes the sources.
#include "binding/gmWrappable.h"
#include "scene/gPtrList.h"

class gmMachineEx;
class sceObject;
struct gPose;

class objAudio : public gmWrappable {
 public:
  // a_object's component, made and stored in its field on first use.
  static objAudio* Make(sceObject* a_object);

  objAudio() = default;
  ~objAudio();
  objAudio(const objAudio&) = delete;
  objAudio& operator=(const objAudio&) = delete;

  static int RegisterScriptType(gmMachineEx* a_machine);

  // The object's part of the frame: every source takes the body's position, then every
  // source its velocity, as they are in the physics world.
  void Follow(const gPose& a_pose);

  gPtrList sources;  // of objAudSource, in creation order
};
