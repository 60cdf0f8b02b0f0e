#pragma once
// ombrix-scores as a child process on a port it picks, for tests and benchmarks that need the
// real executable. The port is read from the line the server prints when it listens (a pipe
// read: no polling), and the server never outlives the process that started it.
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

namespace testSupport {

class ScoreServerProcess {
 public:
  int port = -1;
  pid_t pid = -1;

  // Starts the server with the given arguments after "--listen 127.0.0.1:0"; its standard
  // error goes to a_logPath.
  explicit ScoreServerProcess(const std::vector<std::string>& a_args, const std::string& a_logPath = "/dev/null") {
    int out[2];
    if (pipe(out) != 0) std::abort();
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      if (FILE* log = std::fopen(a_logPath.c_str(), "a")) dup2(fileno(log), 2);
      std::vector<std::string> all = {OMBRIX_SCORES, "--listen", "127.0.0.1:0"};
      all.insert(all.end(), a_args.begin(), a_args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[256];
    if (in && std::fgets(line, sizeof line, in)) {
      const char* colon = std::strrchr(line, ':');
      if (std::strstr(line, "listening on") && colon) port = std::atoi(colon + 1);
    }
    if (in) std::fclose(in);
  }
  ~ScoreServerProcess() {
    if (pid > 0) Stop(SIGKILL);
  }
  ScoreServerProcess(const ScoreServerProcess&) = delete;
  ScoreServerProcess& operator=(const ScoreServerProcess&) = delete;

  // Sends the signal and returns the exit status (or 128 + the signal that ended it).
  int Stop(int a_signal) {
    if (pid <= 0) return -1;
    kill(pid, a_signal);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The limits are a safety net only, far above any answer's time on a busy machine.
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(60);
    client.set_read_timeout(60);
    return client;
  }
};

}  // namespace testSupport
