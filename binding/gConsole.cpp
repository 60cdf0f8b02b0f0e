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

std::string Quote(const std::string& a_text) {
  if (a_text.size() <= kQuoted) return a_text;
  size_t cut = kQuoted;
  while (cut > 0 && (static_cast<unsigned char>(a_text[cut]) & 0xC0) == 0x80) --cut;
  return a_text.substr(0, cut) + "...";
}

std::string Quote(const char* a_text) {
  if (!a_text) return "";
  size_t length = 0;
  while (length <= kQuoted && a_text[length]) ++length;
  return Quote(std::string(a_text, length));
}

void SetSink(Sink a_sink) { s_sink = a_sink ? a_sink : &StandardOutput; }

}  // namespace gConsole
