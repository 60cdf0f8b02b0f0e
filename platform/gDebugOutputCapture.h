#pragma once
// Test fake for the debug-output channel: keeps every message, in order, so tests can compare
// the exact texts a component wrote. Safe to write from a driver thread while a test reads.
#include <mutex>
#include <string>
#include <vector>

#include "platform/gDebugOutput.h"

class gDebugOutputCapture : public gDebugOutput {
 public:
  void Write(const char* text) override {
    std::lock_guard<std::mutex> hold(guard);
    written.emplace_back(text);
  }

  // A copy of the messages written so far, one entry per Write.
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> hold(guard);
    return written;
  }

  // The messages written so far; later Writes start a new list.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> hold(guard);
    std::vector<std::string> taken;
    taken.swap(written);
    return taken;
  }

 private:
  mutable std::mutex guard;
  std::vector<std::string> written;
};
