// The one null-driver device a picture or mesh fuzzer feeds for its whole run, with the
// player's checked picture loaders in front of the engine's and the engine's log silenced.
#pragma once

#include <irrlicht.h>

#include "graphics/graImageLoader.h"

inline irr::IrrlichtDevice* graFuzzDevice() {
  static irr::IrrlichtDevice* device = [] {
    irr::IrrlichtDevice* d = irr::createDevice(irr::video::EDT_NULL);
    d->getLogger()->setLogLevel(irr::ELL_NONE);
    graImageLoader::Install(d->getVideoDriver());
    return d;
  }();
  return device;
}
