#pragma once
// The window system beneath the graphics device.
class gWindowSystem {
 public:
  // Xlib's default reaction to a protocol error is to end the process. Irrlicht sets the
  // swap interval before its GL context is current, which some X servers (Xvfb, Mesa's
  // GLX) refuse with an error, so with vsync on every windowed run would die at its first
  // round trip. Errors are written to standard error instead and the program goes on;
  // that refusal itself, which every such run meets, is not written.
  // Call before the device is created.
  static void TolerateProtocolErrors();
};
