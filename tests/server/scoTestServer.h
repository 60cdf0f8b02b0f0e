#pragma once
// What the score server's tests share: the server as a child process, request bodies as
// the player encodes them, scratch folders and the test command's PostgreSQL server.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "network/netScores.h"
#include "tests/support/scoreServerProcess.h"

namespace scoTest {

using Process = testSupport::ScoreServerProcess;

// A form field as the player encodes it.
inline std::string Encode(const std::string& text) { return netScores::Encode(text); }

inline std::string SubmitBody(const std::string& game, const std::string& player, const std::string& score,
                              const std::string& checksum = "ABC", const std::string& params = "") {
  return "checksum=" + Encode(checksum) + "&script_name=" + Encode(game) + "&script_version=1.0&engine_version=7.10" +
         "&params=" + Encode(params) + "&player_name=" + Encode(player) + "&score=" + score + "&user_timestamp=5";
}

// A fresh temporary directory, removed with everything in it at the end of the scope.
class TempDir {
 public:
  std::string path;
  TempDir() {
    char name[] = "/tmp/ombrix-scores-XXXXXX";
    if (!mkdtemp(name)) std::abort();
    path = name;
  }
  ~TempDir() {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
  }
};

// The PostgreSQL server the test command started, or empty when the tests run without one.
inline std::string PostgresUrl() {
  const char* url = std::getenv("OMBRIX_TEST_POSTGRES");
  return url ? url : "";
}

}  // namespace scoTest
