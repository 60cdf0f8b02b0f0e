#include "binding/gScriptMachine.h"

#include <cstdio>

#include "binding/gScriptHost.h"

std::unique_ptr<gScriptHost> gNewScriptHost(bool a_developer, const gScriptApi& a_api) {
  std::unique_ptr<gScriptHost> host(new gScriptHost());
  host->Build(a_developer, a_api);
  return host;
}

bool gReadScriptFile(const char* a_path, std::string& a_text) {
  std::FILE* file = std::fopen(a_path, "rb");
  if (!file) return false;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    for (size_t i = 0; i < n; ++i) {
      if (buffer[i] != '\0') a_text += buffer[i];
    }
  }
  std::fclose(file);
  return true;
}
