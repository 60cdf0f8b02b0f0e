#pragma once
// A private X server for picture tests: Xvfb on the first free display, started once per
// test program and stopped when it ends. Without Xvfb the tests use $DISPLAY if it is set.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace graphicsTest {

class VirtualDisplay {
 public:
  // True when a display server is there to connect to.
  static bool Ensure() {
    static VirtualDisplay display;
    return display.m_ready;
  }

 private:
  VirtualDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(fds[0]);
      const int devnull = open("/dev/null", O_WRONLY);
      if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    if (m_pid > 0) {
      // The server writes its display number once it accepts connections.
      pollfd ready{fds[0], POLLIN, 0};
      char c;
      while (poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    }
    close(fds[0]);
    if (!number.empty()) {
      setenv("DISPLAY", (":" + number).c_str(), 1);
      m_ready = true;
    } else {
      Stop();
      m_ready = std::getenv("DISPLAY") != nullptr;
    }
  }
  ~VirtualDisplay() { Stop(); }
  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

  pid_t m_pid = -1;
  bool m_ready = false;
};

}  // namespace graphicsTest
