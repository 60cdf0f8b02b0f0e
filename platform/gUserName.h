#pragma once
// The name of the user the process runs for, as the operating system reports it.
#include <cstddef>

class gUserName {
 public:
  virtual ~gUserName() = default;
  // Writes the name, NUL-terminated, into a_buffer of a_size bytes. False, with a_buffer
  // holding the empty text, when the system reports no name or the name does not fit.
  virtual bool Get(char* a_buffer, std::size_t a_size) = 0;

  // The process's own source (the passwd entry of the effective user on Linux).
  static gUserName& System();
};
