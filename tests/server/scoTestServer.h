#pragma once
// Runs ombrix-scores as a child process on a port it picks, for the tests that need the
// real executable: the player against it, a SIGKILL in the middle of a load, a browser.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <httplib.h>

#include "network/netScores.h"

namespace scoTest {

class Process
{
public:
  int port = -1;
  pid_t pid = -1;

  // Starts the server with the given arguments after "--listen 127.0.0.1:0" and waits for
  // the line that names its port (a pipe read: no polling).
  explicit Process(const std::vector<std::string>& args, const std::string& logPath = "/dev/null")
  {
    int out[2];
    if (pipe(out) != 0)
      std::abort();
    pid = fork();
    if (pid == 0)
    {
      // Never outlives the process that started it, even one that crashed.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      FILE* log = std::fopen(logPath.c_str(), "a");
      if (log)
        dup2(fileno(log), 2);
      std::vector<std::string> all = {OMBRIX_SCORES, "--listen", "127.0.0.1:0"};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[256];
    if (in && std::fgets(line, sizeof line, in))
    {
      const char* colon = std::strrchr(line, ':');
      if (std::strstr(line, "listening on") && colon)
        port = std::atoi(colon + 1);
    }
    if (in)
      std::fclose(in);
  }

  ~Process()
  {
    if (pid > 0)
      Stop(SIGKILL);
  }

  // Sends the signal and returns the exit status (or 128 + the signal that ended it).
  int Stop(int signal)
  {
    if (pid <= 0)
      return -1;
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  httplib::Client Client() const
  {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(10);
    return client;
  }
};

// A form field as the player encodes it.
inline std::string Encode(const std::string& text) { return netScores::Encode(text); }

inline std::string SubmitBody(const std::string& game, const std::string& player, const std::string& score,
                              const std::string& checksum = "ABC", const std::string& params = "")
{
  return "checksum=" + Encode(checksum) + "&script_name=" + Encode(game) + "&script_version=1.0&engine_version=7.10" +
         "&params=" + Encode(params) + "&player_name=" + Encode(player) + "&score=" + score + "&user_timestamp=5";
}

// A fresh temporary directory, removed with everything in it at the end of the scope.
class TempDir
{
public:
  std::string path;
  TempDir()
  {
    char name[] = "/tmp/ombrix-scores-XXXXXX";
    if (!mkdtemp(name))
      std::abort();
    path = name;
  }
  ~TempDir()
  {
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
      std::fprintf(stderr, "could not remove %s\n", path.c_str());
  }
};

// The PostgreSQL server the test command started, or empty when the tests run without one.
inline std::string PostgresUrl()
{
  const char* url = std::getenv("OMBRIX_TEST_POSTGRES");
  return url ? url : "";
}

}  // namespace scoTest
