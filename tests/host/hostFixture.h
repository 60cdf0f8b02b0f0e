#pragma once
// Scratch directories, fixture files and zip archives for the host tests. Every test gets a
// directory of its own, so the tests can run in parallel processes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace hostTest {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "ombrix-host-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  fs::path path;
};

inline void WriteFile(const fs::path& file, const std::string& content) {
  if (file.has_parent_path()) fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
}

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes each (path inside the archive, content) pair and zips them, folders kept, into
// the archive; returns false when zip fails.
inline bool MakeZip(const fs::path& archive, const std::vector<std::pair<std::string, std::string>>& entries) {
  ScratchDir staging;
  const fs::path target = fs::absolute(archive);
  fs::create_directories(target.parent_path());
  const fs::path content = staging.path / "content";
  fs::create_directories(content);
  for (const auto& [name, text] : entries) WriteFile(content / name, text);
  // Zipped under a fixed name and then renamed: zip would add ".zip" to a name without it.
  // The fixed name lives in this call's own scratch folder, so tests can run in parallel.
  const std::string command =
      "cd '" + content.string() + "' && '" OMBRIX_ZIP "' -q -r ../out.zip . && mv ../out.zip '" + target.string() + "'";
  return std::system(command.c_str()) == 0;
}

}  // namespace hostTest
