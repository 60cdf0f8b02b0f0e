#include "platform/gUserNamePasswd.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <vector>

bool gUserNamePasswd::Get(char* a_buffer, std::size_t a_size) {
  if (!a_buffer || a_size == 0) return false;
  a_buffer[0] = '\0';
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> storage(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, storage.data(), storage.size(), &found) != 0 || !found || !found->pw_name)
    return false;
  const std::size_t length = std::strlen(found->pw_name);
  if (length == 0 || length >= a_size) return false;
  std::memcpy(a_buffer, found->pw_name, length + 1);
  return true;
}

gUserName& gUserName::System() {
  static gUserNamePasswd source;
  return source;
}
