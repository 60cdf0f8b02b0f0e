#include "host/gScreenshot.h"

#include <GL/gl.h>
#include <irrlicht.h>

#include <vector>

bool gScreenshot::WriteBackBuffer(irr::IrrlichtDevice* a_device, const std::string& a_path, std::string& a_error) {
  using namespace irr;
  video::IVideoDriver* driver = a_device ? a_device->getVideoDriver() : nullptr;
  if (!driver || driver->getDriverType() != video::EDT_OPENGL) {
    a_error = "nothing is rendered without a window";
    return false;
  }
  const core::dimension2d<u32> size = driver->getScreenSize();
  std::vector<unsigned char> pixels(size_t(size.Width) * size.Height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, static_cast<GLsizei>(size.Width), static_cast<GLsizei>(size.Height), GL_RGB, GL_UNSIGNED_BYTE,
               pixels.data());
  if (glGetError() != GL_NO_ERROR) {
    a_error = "the rendered picture could not be read";
    return false;
  }
  video::IImage* image = driver->createImage(video::ECF_R8G8B8, size);
  if (!image) {
    a_error = "no memory for the picture";
    return false;
  }
  // OpenGL's rows run from the bottom up.
  for (u32 y = 0; y < size.Height; ++y) {
    const unsigned char* row = &pixels[size_t(size.Height - 1 - y) * size.Width * 3];
    for (u32 x = 0; x < size.Width; ++x)
      image->setPixel(x, y, video::SColor(255, row[3 * x], row[3 * x + 1], row[3 * x + 2]));
  }
  const bool written = driver->writeImageToFile(image, a_path.c_str());
  image->drop();
  if (!written) a_error = "cannot write " + a_path;
  return written;
}
