#include "host/gPlayerScriptApi.h"

#include "audio/_gAudio.h"
#include "audio/objAudSource.h"
#include "audio/objAudio.h"
#include "binding/gmNativeType.h"
#include "clock/_gClock.h"
#include "clock/cloCounter.h"
#include "graphics/_gGraphics.h"
#include "graphics/graResources.h"
#include "graphics/objGraBeam.h"
#include "graphics/objGraBillboard.h"
#include "graphics/objGraCamera.h"
#include "graphics/objGraLight.h"
#include "graphics/objGraMesh.h"
#include "graphics/objGraParticles.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"
#include "input/_gInput.h"
#include "input/wiimote/inpWiimote.h"
#include "network/_gNetwork.h"
#include "physics/objPhyCloth.h"
#include "physics/objPhyPrimitives.h"
#include "physics/objPhysics.h"
#include "physics/scePhysics.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

namespace {

// Audio's listener is a physics body, a class audio does not link: the one method that
// names both is bound here, where both are known.
int RegisterAudio(gmMachineEx* a_machine) {
  return _gAudio::RegisterScriptType(
      a_machine, [](gmNativeType<_gAudio>& a_type) { a_type.Method("Listener", &_gAudio::Listener); });
}

// The same for the cloth's AddMesh, which takes the graphics module's mesh handle.
int RegisterCloth(gmMachineEx* a_machine) {
  return objPhyCloth::RegisterScriptType(
      a_machine, [](gmNativeType<objPhyCloth>& a_type) { a_type.Method("AddMesh", &objPhyCloth::AddMesh); });
}

}  // namespace

// A subsystem joins the script API with one line here, in its slot (binding/gScriptHost.h
// lists the slots and the ids they give):
//   api.types[SLOT_CLOCK] = &_gClock::RegisterScriptType;
// A slot left empty keeps its ids, so filling one never moves another.
gScriptApi gPlayerScriptApi() {
  gScriptApi api;  // Vector3 and _System
  api.types[SLOT_GRAPHICS] = &_gGraphics::RegisterScriptType;
  api.types[SLOT_INPUT] = &_gInput::RegisterScriptType;
  api.types[SLOT_AUDIO] = &RegisterAudio;
  api.types[SLOT_WIIMOTE] = &inpWiimote::RegisterScriptType;
  api.types[SLOT_CLOCK] = &_gClock::RegisterScriptType;
  api.types[SLOT_NETWORK] = &_gNetwork::RegisterScriptType;
  api.types[SLOT_COUNTER] = &cloCounter::RegisterScriptType;
  api.types[SLOT_SCENE] = &gScene::RegisterScriptType;
  api.types[SLOT_SCE_PHYSICS] = &scePhysics::RegisterScriptType;
  api.types[SLOT_OBJECT] = &sceObject::RegisterScriptType;
  api.types[SLOT_OBJ_AUDIO] = &objAudio::RegisterScriptType;
  api.types[SLOT_OBJ_AUD_SOURCE] = &objAudSource::RegisterScriptType;
  api.types[SLOT_OBJ_PHYSICS] = &objPhysics::RegisterScriptType;
  api.types[SLOT_OBJ_PHY_SPHERE] = &objPhySphere::RegisterScriptType;
  api.types[SLOT_OBJ_PHY_BOX] = &objPhyBox::RegisterScriptType;
  api.types[SLOT_OBJ_PHY_CAPSULE] = &objPhyCapsule::RegisterScriptType;
  api.types[SLOT_OBJ_PHY_CLOTH] = &RegisterCloth;
  api.types[SLOT_SCE_GRAPHICS] = &sceGraphics::RegisterScriptType;
  api.types[SLOT_OBJ_GRAPHICS] = &objGraphics::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_LIGHT] = &objGraLight::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_CAMERA] = &objGraCamera::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_MESH] = &objGraMesh::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_BILLBOARD] = &objGraBillboard::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_PARTICLES] = &objGraParticles::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_BEAM] = &objGraBeam::RegisterScriptType;
  return api;
}
