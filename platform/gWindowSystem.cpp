#include "platform/gWindowSystem.h"

#include <X11/Xlib.h>

#include <cstdio>

namespace {

int ReportError(Display* display, XErrorEvent* error) {
  char text[256];
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "X error (request %d.%d): %s\n", error->request_code,
               error->minor_code, text);
  return 0;
}

}  // namespace

void gWindowSystem::TolerateProtocolErrors() { XSetErrorHandler(ReportError); }
