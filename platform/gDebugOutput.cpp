#include "platform/gDebugOutput.h"

#include <cstdarg>
#include <cstdio>

#include "platform/gDebugOutputStderr.h"

void gDebugOutput::Printf(const char* format, ...) {
  char buffer[kMessageMax];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  Write(buffer);
}

gDebugOutput& gDebugOutput::System() {
  static gDebugOutputStderr channel;
  return channel;
}
