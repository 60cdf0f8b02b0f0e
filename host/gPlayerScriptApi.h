#pragma once
// The player's script API: what binding/ registers itself plus every subsystem's native
// types, each in its fixed slot. The player and the runner ombrix-script both build their
// script host from it, so both see the same names and ids.
#include "binding/gScriptHost.h"

gScriptApi gPlayerScriptApi();
