// fork and exec with both output streams on pipes read by poll: the readiness text is seen
// the moment the player writes it, and the safety limit is the only timed wait.
#include "tests/support/playerRun.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace testSupport {

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point a_start) { return std::chrono::duration<double>(Clock::now() - a_start).count(); }

[[noreturn]] void Exec(const PlayerOptions& a_options, int a_out, int a_err) {
  // Its own process group, so the safety limit reaches what the prefix started too.
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  dup2(a_out, 1);
  dup2(a_err, 2);
  if (chdir(a_options.dir.c_str()) != 0) _exit(126);
  for (const std::string& change : a_options.env) {
    const std::string::size_type equals = change.find('=');
    if (equals == std::string::npos)
      unsetenv(change.c_str());
    else
      setenv(change.substr(0, equals).c_str(), change.c_str() + equals + 1, 1);
  }
  std::vector<std::string> words = a_options.prefix;
  words.push_back(a_options.player);
  words.insert(words.end(), a_options.args.begin(), a_options.args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

PlayerRun RunPlayer(const PlayerOptions& a_options) {
  PlayerRun run;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return run;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return run;
  }
  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child == 0) Exec(a_options, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  if (child < 0) {
    close(out[0]);
    close(err[0]);
    return run;
  }

  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* texts[2] = {&run.out, &run.err};
  int open = 2;
  while (open > 0) {
    const double left = a_options.limitSeconds - Since(start);
    if (left <= 0) {
      run.hitLimit = true;
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left * 1000) + 1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (!run.stopped && !a_options.stopAfter.empty() && run.out.find(a_options.stopAfter) != std::string::npos) {
      run.readySeconds = Since(start);
      kill(child, a_options.stopSignal);
      run.stopped = true;
    }
  }
  for (const pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  int raw = 0;
  waitpid(child, &raw, 0);
  run.seconds = Since(start);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  if (run.hitLimit)
    run.err += "\n[killed: the run passed the safety limit of " + std::to_string(a_options.limitSeconds) + " s]\n";
  return run;
}

PlayerRun RunPlayer(const std::filesystem::path& a_dir, const std::vector<std::string>& a_args) {
  PlayerOptions options;
  options.dir = a_dir;
  options.args = a_args;
  return RunPlayer(options);
}

std::vector<std::string> PrintedLines(const std::string& a_out) {
  std::vector<std::string> lines;
  std::istringstream in(a_out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace testSupport
