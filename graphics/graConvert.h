#pragma once
// The two conversions every script value takes on its way into the engine: colours given as
// four floats, and texts that the engine wants as wide characters.
#include <irrlicht.h>

#include <string>

// One channel of a script colour: times 255, truncated, low 8 bits, so 2.0 wraps to 254 and
// -0.5 to 129. NaN is 0; infinities and values past the int range are clamped to it first,
// so the conversion is always defined.
irr::u32 graColorChannel(float a_value);

// Four channels packed as the engine's ARGB colour.
irr::u32 graScriptColor(float a_red, float a_green, float a_blue, float a_alpha);

// The text in wide characters through the C library's multibyte conversion. A byte that does
// not start a valid character (any byte above 127 in the C locale) becomes the one character
// of the same value, so no text is lost or cut and the result is always terminated.
std::wstring graWideText(const char* a_text);
