#include "audio/objAudio.h"

#include <AL/al.h>

#include "audio/objAudSource.h"
#include "binding/gmNativeType.h"
#include "scene/gPose.h"
#include "scene/sceObject.h"

objAudio* objAudio::Make(sceObject* a_object) {
  if (!a_object) return nullptr;
  if (!a_object->audio) a_object->audio = new objAudio();
  return a_object->audio;
}

objAudio::~objAudio() {
  CutWrappers();
  while (sources.count > 0) {
    objAudSource* source = static_cast<objAudSource*>(sources.Get(sources.count - 1));
    sources.RemoveAt(sources.count - 1);
    delete source;
  }
}

int objAudio::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<objAudio> type(a_machine, "_ObjAudio");
  type.FactoryConstructor(&objAudio::Make);
  return type.Register();
}

void objAudio::Follow(const gPose& a_pose) {
  for (int i = 0; i < sources.count; ++i) {
    const unsigned name = static_cast<objAudSource*>(sources.Get(i))->name;
    if (name) alSource3f(name, AL_POSITION, a_pose.origin[0], a_pose.origin[1], a_pose.origin[2]);
  }
  for (int i = 0; i < sources.count; ++i) {
    const unsigned name = static_cast<objAudSource*>(sources.Get(i))->name;
    if (name) alSource3f(name, AL_VELOCITY, a_pose.velocity[0], a_pose.velocity[1], a_pose.velocity[2]);
  }
}
