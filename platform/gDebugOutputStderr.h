#pragma once
// Linux stand-in for the system debugger channel: messages go to standard error, which is
// unbuffered, so one Write is one write call and lines from different threads do not mix.
#include "platform/gDebugOutput.h"

class gDebugOutputStderr : public gDebugOutput {
 public:
  void Write(const char* text) override;
};
