#pragma once
// Linux source of the user name: the passwd database entry of the effective user id.
#include "platform/gUserName.h"

class gUserNamePasswd : public gUserName {
 public:
  bool Get(char* a_buffer, std::size_t a_size) override;
};
