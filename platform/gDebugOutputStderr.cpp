#include "platform/gDebugOutputStderr.h"

#include <cstdio>

void gDebugOutputStderr::Write(const char* text) { std::fputs(text, stderr); }
