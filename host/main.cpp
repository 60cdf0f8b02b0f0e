#include <cstdio>
#include <string_view>
#include "binding/gVersion.h"

int main(int argc, char** argv) {
  for (int i = argc - 1; i >= 1; --i) {
    if (std::string_view(argv[i]) == "--version") {
      std::printf("Ombrix %s\n%s\n", ombrix::kEngineVersion, ombrix::kWebAddress);
      return 0;
    }
  }
  return 0;
}
