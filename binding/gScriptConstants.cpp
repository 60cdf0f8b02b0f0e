#include "binding/gScriptConstants.h"

#include "script/vm/gmMachine.h"

// Button states, Wiimote buttons, timer kinds, mouse buttons, then the key codes (the
// virtual-key codes the device's key events carry; only these names exist).
const gScriptConstant gScriptConstants[gScriptConstantCount] = {
    {"BUT_DOWN", 0},        {"BUT_ON", 1},          {"BUT_UP", 2},          {"WIIBUT_LEFT", 0},
    {"WIIBUT_RIGHT", 1},    {"WIIBUT_DOWN", 2},     {"WIIBUT_UP", 3},       {"WIIBUT_PLUS", 4},
    {"WIIBUT_CAM", 5},      {"WIIBUT_Z", 6},        {"WIIBUT_C", 7},        {"WIIBUT_2", 8},
    {"WIIBUT_1", 9},        {"WIIBUT_B", 10},       {"WIIBUT_A", 11},       {"WIIBUT_MINUS", 12},
    {"WIIBUT_HOME", 15},    {"TIMER_ONCE", 1},      {"TIMER_CYCLIC", 2},    {"MOU_LEFT", 0},
    {"MOU_RIGHT", 1},       {"MOU_MIDDLE", 2},      {"KEY_MBUTTON", 4},     {"KEY_XBUTTON1", 5},
    {"KEY_XBUTTON2", 6},    {"KEY_BACK", 8},        {"KEY_CLEAR", 12},      {"KEY_RETURN", 13},
    {"KEY_SHIFT", 16},      {"KEY_CONTROL", 17},    {"KEY_MENU", 18},       {"KEY_PAUSE", 19},
    {"KEY_CAPITAL", 20},    {"KEY_KANA", 21},       {"KEY_HANGUEL", 21},    {"KEY_HANGUL", 21},
    {"KEY_JUNJA", 23},      {"KEY_FINAL", 24},      {"KEY_HANJA", 25},      {"KEY_KANJI", 25},
    {"KEY_ESCAPE", 27},     {"KEY_CONVERT", 28},    {"KEY_NONCONVERT", 29}, {"KEY_ACCEPT", 30},
    {"KEY_MODECHANGE", 31}, {"KEY_SPACE", 32},      {"KEY_HOME", 36},       {"KEY_LEFT", 37},
    {"KEY_UP", 38},         {"KEY_RIGHT", 39},      {"KEY_DOWN", 40},       {"KEY_SELECT", 41},
    {"KEY_PRINT", 42},      {"KEY_EXECUT", 43},     {"KEY_SNAPSHOT", 44},   {"KEY_INSERT", 45},
    {"KEY_DELETE", 46},     {"KEY_HELP", 47},       {"KEY_0", 48},          {"KEY_1", 49},
    {"KEY_2", 50},          {"KEY_3", 51},          {"KEY_4", 52},          {"KEY_5", 53},
    {"KEY_6", 54},          {"KEY_7", 55},          {"KEY_8", 56},          {"KEY_9", 57},
    {"KEY_A", 65},          {"KEY_B", 66},          {"KEY_C", 67},          {"KEY_D", 68},
    {"KEY_E", 69},          {"KEY_F", 70},          {"KEY_G", 71},          {"KEY_H", 72},
    {"KEY_I", 73},          {"KEY_J", 74},          {"KEY_K", 75},          {"KEY_L", 76},
    {"KEY_M", 77},          {"KEY_N", 78},          {"KEY_O", 79},          {"KEY_P", 80},
    {"KEY_Q", 81},          {"KEY_R", 82},          {"KEY_S", 83},          {"KEY_T", 84},
    {"KEY_U", 85},          {"KEY_V", 86},          {"KEY_W", 87},          {"KEY_X", 88},
    {"KEY_Y", 89},          {"KEY_Z", 90},          {"KEY_LWIN", 91},       {"KEY_RWIN", 92},
    {"KEY_APPS", 93},       {"KEY_SLEEP", 95},      {"KEY_NUMPAD0", 96},    {"KEY_NUMPAD1", 97},
    {"KEY_NUMPAD2", 98},    {"KEY_NUMPAD3", 99},    {"KEY_NUMPAD4", 100},   {"KEY_NUMPAD5", 101},
    {"KEY_NUMPAD6", 102},   {"KEY_NUMPAD7", 103},   {"KEY_NUMPAD8", 104},   {"KEY_NUMPAD9", 105},
    {"KEY_MULTIPLY", 106},  {"KEY_ADD", 107},       {"KEY_SEPARATOR", 108}, {"KEY_SUBTRACT", 109},
    {"KEY_DECIMAL", 110},   {"KEY_DIVIDE", 111},    {"KEY_F1", 112},        {"KEY_F2", 113},
    {"KEY_F3", 114},        {"KEY_F4", 115},        {"KEY_F5", 116},        {"KEY_F6", 117},
    {"KEY_F7", 118},        {"KEY_F8", 119},        {"KEY_F9", 120},        {"KEY_F10", 121},
    {"KEY_F11", 122},       {"KEY_F12", 123},       {"KEY_F13", 124},       {"KEY_F14", 125},
    {"KEY_F15", 126},       {"KEY_F16", 127},       {"KEY_F17", 128},       {"KEY_F18", 129},
    {"KEY_F19", 130},       {"KEY_F20", 131},       {"KEY_F21", 132},       {"KEY_F22", 133},
    {"KEY_F23", 134},       {"KEY_F24", 135},       {"KEY_NUMLOCK", 144},   {"KEY_SCROLL", 145},
    {"KEY_LSHIFT", 160},    {"KEY_RSHIFT", 161},    {"KEY_LCONTROL", 162},  {"KEY_RCONTROL", 163},
    {"KEY_LMENU", 164},     {"KEY_RMENU", 165},     {"KEY_PLUS", 187},      {"KEY_COMMA", 188},
    {"KEY_MINUS", 189},     {"KEY_PERIOD", 190},    {"KEY_ATTN", 246},      {"KEY_CRSEL", 247},
    {"KEY_EXSEL", 248},     {"KEY_EREOF", 249},     {"KEY_PLAY", 250},      {"KEY_ZOOM", 251},
    {"KEY_PA1", 253},       {"KEY_OEM_CLEAR", 254},
};

void gSetScriptConstants(gmMachine* a_machine) {
  for (const gScriptConstant& constant : gScriptConstants)
    a_machine->GetGlobals()->SetByName(a_machine, constant.name, gmVariable(static_cast<gmint>(constant.value)));
}
