#pragma once
// "ombrix --api": the script API as the player's registry holds it, printed as Markdown or
// JSON. Everything listed is read from the machine the player has built for a game (with
// its graphics device, so that a scene and an object made for the listing are whole), plus
// one table of the callbacks the host calls; nothing else is written by hand, so the listing
// cannot differ from what a game sees. docs/api.md repeats its entries.
#include <string>

class gmMachineEx;

// The listing of a_machine's API as text. It makes a scene "scene" and an object in it.
// False (with a_error) when the callback table names a function the registry lacks.
bool gApiReference(gmMachineEx* a_machine, bool a_json, std::string& a_text, std::string& a_error);
