#pragma once
// The debug-output channel: a sink for diagnostic lines that nobody is required to read (the
// Wiimote driver's log). Each Write is one whole message, already terminated by its own
// newline; implementations must accept writes from several threads at once.
#include <cstddef>

class gDebugOutput {
 public:
  // Longest message, terminator included: Printf truncates to fit instead of failing, since
  // a diagnostic must never be the reason an operation stops.
  static constexpr std::size_t kMessageMax = 256;

  virtual ~gDebugOutput() = default;
  virtual void Write(const char* text) = 0;

  // printf-style formatting into a kMessageMax buffer, then one Write.
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // The process's own channel (standard error on Linux); lives until the process ends.
  static gDebugOutput& System();
};
