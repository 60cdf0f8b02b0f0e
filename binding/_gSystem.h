#ifndef _GSYSTEM_H
#define _GSYSTEM_H

// The System module: the engine version and the name of the logged-in user.

class gmMachineEx;
class gUserName;

class _gSystem {
 public:
  // The module, once the script line "global System = _System();" has made it.
  static _gSystem* instance;
  // Where Username asks; tests swap in a fake.
  static gUserName* userNameSource;

  // A constant text.
  const char* EngineVersion();
  // The user name in one process-wide buffer that every call overwrites: values returned
  // earlier show the latest name. The empty text when the system reports none.
  const char* Username();

  static int RegisterScriptType(gmMachineEx* a_machine);

 private:
  static char s_userName[256];
};

#endif
