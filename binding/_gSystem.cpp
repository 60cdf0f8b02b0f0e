#include "binding/_gSystem.h"

#include "binding/gVersion.h"
#include "binding/gmNativeType.h"
#include "platform/gUserName.h"

_gSystem* _gSystem::instance = nullptr;
gUserName* _gSystem::userNameSource = nullptr;
char _gSystem::s_userName[256];

const char* _gSystem::EngineVersion() { return ombrix::kEngineVersion; }

const char* _gSystem::Username() {
  gUserName& source = userNameSource ? *userNameSource : gUserName::System();
  if (!source.Get(s_userName, sizeof(s_userName))) s_userName[0] = '\0';
  return s_userName;
}

int _gSystem::RegisterScriptType(gmMachineEx* a_machine) {
  gmNativeType<_gSystem> type(a_machine, "_System");
  type.ModuleConstructor(&instance);
  type.Method("EngineVersion", &_gSystem::EngineVersion);
  type.Method("Username", &_gSystem::Username);
  return type.Register();
}
