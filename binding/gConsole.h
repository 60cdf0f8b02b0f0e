#pragma once
// The developer console's lines as every module writes them: the fixed messages of the
// graphics, physics and audio components ("Missing texture", "mesh is empty", ...). They
// reach the same place as script print output, in the order written. The host owns where
// that is: standard output today (gFrame's printer), and the developer menu's console as
// well once it exists. Until the host sets a sink, lines go to standard output.
#include <string>

namespace gConsole {

// At most kQuoted characters of a text that came from outside (a file name from a script, a
// word of an input file), with "..." after a cut: a message names bad input, it does not
// repeat it. The cut never splits a UTF-8 sequence.
constexpr size_t kQuoted = 80;
std::string Quote(const std::string& a_text);
std::string Quote(const char* a_text);

typedef void (*Sink)(const char* a_line);

// Writes one console line (a printf format; the text is cut at 4095 bytes).
void Line(const char* a_format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Where lines go from now on; null restores standard output.
void SetSink(Sink a_sink);

}  // namespace gConsole
