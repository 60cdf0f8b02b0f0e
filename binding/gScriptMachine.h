#ifndef GSCRIPTMACHINE_H
#define GSCRIPTMACHINE_H

// The script machine as the player builds it, shared by the player's script host and the
// command-line runner so that a snippet tried in the runner behaves as it will in a game.

#include <memory>
#include <string>

#include "binding/gScriptHost.h"

class gmMachine;

// A machine in debug mode (error messages name the source line) with the core library and
// every registration of the script API that exists.
std::unique_ptr<gmMachine> gNewScriptMachine();

// The script host, built: its machine has the core and math libraries and every part of
// the script API that exists, registered in the player's order. Its loader is not set.
std::unique_ptr<gScriptHost> gNewScriptHost(bool a_developer);

// The loader's reading of a script file: every zero byte is dropped, so the text never
// holds a NUL. False when the file cannot be opened.
bool gReadScriptFile(const char* a_path, std::string& a_text);

#endif
