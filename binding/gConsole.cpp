#include "binding/gConsole.h"

#include <cstdarg>
#include <cstdio>

namespace gConsole {
namespace {

void StandardOutput(const char* a_line) {
  std::fputs(a_line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

Sink s_sink = &StandardOutput;

}  // namespace

void Line(const char* a_format, ...) {
  char text[4096];
  va_list args;
  va_start(args, a_format);
  std::vsnprintf(text, sizeof(text), a_format, args);
  va_end(args);
  s_sink(text);
}

void SetSink(Sink a_sink) { s_sink = a_sink ? a_sink : &StandardOutput; }

}  // namespace gConsole
