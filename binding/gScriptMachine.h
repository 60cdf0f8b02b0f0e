#ifndef GSCRIPTMACHINE_H
#define GSCRIPTMACHINE_H

// The script host as the player builds it, shared by the player and the command-line runner
// so that a snippet tried in the runner behaves as it will in a game.

#include <memory>
#include <string>

#include "binding/gScriptHost.h"

// The script host, built: its machine has the core and math libraries and the script API
// of a_api, registered in the player's order. Its loader is not set. The default API holds
// binding's own types; the player's (host/gPlayerScriptApi.h) adds every subsystem's.
std::unique_ptr<gScriptHost> gNewScriptHost(bool a_developer, const gScriptApi& a_api = gScriptApi());

// The loader's reading of a script file: every zero byte is dropped, so the text never
// holds a NUL. False when the file cannot be opened.
bool gReadScriptFile(const char* a_path, std::string& a_text);

#endif
