#pragma once
// The picture of the last frame of a run, for tests that compare what a game shows.
#include <string>

namespace irr {
class IrrlichtDevice;
}

class gScreenshot {
 public:
  // Writes the back buffer as a PNG file (without alpha). Call after the frame's graphics
  // step and before the next one: the step renders into the back buffer and only the next
  // frame's step presents it. Reading the front buffer instead gives black under software
  // rendering (Mesa's llvmpipe on Xvfb). False, with a_error set, when there is no OpenGL
  // picture or the file cannot be written.
  static bool WriteBackBuffer(irr::IrrlichtDevice* a_device, const std::string& a_path, std::string& a_error);
};
