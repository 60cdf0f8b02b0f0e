#include "script/gmAssert.h"

#include <cstdio>
#include <cstdlib>

namespace {

void Abort(const char* a_file, int a_line, const char* a_condition, const char* a_text) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", a_file, a_line, a_text, a_condition);
  std::abort();
}

gmAssertHook s_hook = Abort;

}  // namespace

gmAssertHook gmSetAssertHook(gmAssertHook a_hook) {
  const gmAssertHook previous = s_hook;
  s_hook = a_hook ? a_hook : Abort;
  return previous;
}

void gmAssertFailed(const char* a_file, int a_line, const char* a_condition, const char* a_text) {
  s_hook(a_file, a_line, a_condition, a_text);
}
