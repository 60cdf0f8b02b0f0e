#pragma once
// Test fake for the user name: reports whatever the test set, or no name at all.
#include <cstring>
#include <string>

#include "platform/gUserName.h"

class gUserNameFake : public gUserName {
 public:
  std::string name;
  bool present = true;

  bool Get(char* a_buffer, std::size_t a_size) override {
    if (!a_buffer || a_size == 0) return false;
    a_buffer[0] = '\0';
    if (!present || name.size() >= a_size) return false;
    std::memcpy(a_buffer, name.c_str(), name.size() + 1);
    return true;
  }
};
