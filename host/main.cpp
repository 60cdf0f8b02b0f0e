#include "host/gHost.h"

int main(int argc, char** argv) {
  // Static so that what start-up creates and never tears down (the device in a checksum
  // run, and later the machine, scenes and modules) stays reachable until the process ends.
  static gHost host;
  return host.Run(argc, argv);
}
