#pragma once
// Picture tests of the real OpenGL renderer: a small window on a private X server, frames
// drawn through the player's own steps, and the back buffer read right after drawing (the
// engine's screenshot reads the front buffer, black under Mesa's software renderer).
#include <GL/gl.h>

#include <cstdlib>
#include <vector>

#include "platform/gWindowSystem.h"
#include "tests/graphics/graVirtualDisplay.h"
#include "tests/graphics/graphicsFixture.h"

namespace graphicsTest {

constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 240;

struct Rgb {
  int r, g, b;
  bool Near(const Rgb& a_other, int a_tolerance = 12) const {
    return std::abs(r - a_other.r) <= a_tolerance && std::abs(g - a_other.g) <= a_tolerance &&
           std::abs(b - a_other.b) <= a_tolerance;
  }
};

class PictureFixture : public Fixture {
 protected:
  // Null when the window is open; else why the test cannot run here (for GTEST_SKIP).
  const char* StartPicture(bool a_withPhysics = false) {
    if (!VirtualDisplay::Ensure()) return "no display server could be started";
    gWindowSystem::TolerateProtocolErrors();
    withPhysics = a_withPhysics;
    if (!Start(irr::video::EDT_OPENGL, kPictureWidth, kPictureHeight)) return "no OpenGL device on this display";
    return nullptr;
  }

  // Renders a frame and keeps the back buffer it drew.
  void Draw() {
    Frame();
    pixels.assign(kPictureWidth * kPictureHeight * 4, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kPictureWidth, kPictureHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  }
  // The pixel at (a_x, a_y) from the top left.
  Rgb At(int a_x, int a_y) const {
    const unsigned char* p = &pixels[((kPictureHeight - 1 - a_y) * kPictureWidth + a_x) * 4];
    return Rgb{p[0], p[1], p[2]};
  }
  // How many pixels are near a_colour.
  int Count(const Rgb& a_colour) const {
    int count = 0;
    for (int y = 0; y < kPictureHeight; ++y)
      for (int x = 0; x < kPictureWidth; ++x) count += At(x, y).Near(a_colour) ? 1 : 0;
    return count;
  }

  std::vector<unsigned char> pixels;
};

}  // namespace graphicsTest
