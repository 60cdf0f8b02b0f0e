#include "host/gPlayerScriptApi.h"

#include "clock/_gClock.h"
#include "clock/cloCounter.h"
#include "graphics/_gGraphics.h"
#include "graphics/objGraBeam.h"
#include "graphics/objGraBillboard.h"
#include "graphics/objGraCamera.h"
#include "graphics/objGraLight.h"
#include "graphics/objGraMesh.h"
#include "graphics/objGraParticles.h"
#include "graphics/objGraphics.h"
#include "graphics/sceGraphics.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "scene/gScene.h"
#include "scene/sceObject.h"

// A subsystem joins the script API with one line here, in its slot (binding/gScriptHost.h
// lists the slots and the ids they give):
//   api.types[SLOT_CLOCK] = &_gClock::RegisterScriptType;
// A slot left empty keeps its ids, so filling one never moves another.
gScriptApi gPlayerScriptApi() {
  gScriptApi api;  // Vector3 and _System
  api.types[SLOT_GRAPHICS] = &_gGraphics::RegisterScriptType;
  api.types[SLOT_INPUT] = &_gInput::RegisterScriptType;
  api.types[SLOT_CLOCK] = &_gClock::RegisterScriptType;
  api.types[SLOT_NETWORK] = &_gNetwork::RegisterScriptType;
  api.types[SLOT_COUNTER] = &cloCounter::RegisterScriptType;
  api.types[SLOT_SCENE] = &gScene::RegisterScriptType;
  api.types[SLOT_SCE_GRAPHICS] = &sceGraphics::RegisterScriptType;
  api.types[SLOT_OBJECT] = &sceObject::RegisterScriptType;
  api.types[SLOT_OBJ_GRAPHICS] = &objGraphics::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_LIGHT] = &objGraLight::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_CAMERA] = &objGraCamera::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_MESH] = &objGraMesh::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_BILLBOARD] = &objGraBillboard::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_PARTICLES] = &objGraParticles::RegisterScriptType;
  api.types[SLOT_OBJ_GRA_BEAM] = &objGraBeam::RegisterScriptType;
  return api;
}
