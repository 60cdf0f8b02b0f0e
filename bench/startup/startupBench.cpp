// Start-up to the first frame, against love (the Lua game framework) starting a trivial game,
// from a build without sanitizers:
//   build/bench/startup/startup_bench [RUNS]                           # headless
//   tests/support/withXvfb.sh build/bench/startup/startup_bench [RUNS] # and windowed
// The player plays the default game for one frame: once as a first start of the package
// (an empty verdict cache, so every mesh and picture is tried) and once as a later start
// (the cache filled). love runs a game that quits in its first update (headless, with no
// window or graphics module) or its first draw (windowed). Runs are interleaved, each figure
// is the median of RUNS whole processes, and both sides get the same silent sound device.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

double TimeRun(const std::string& a_command) {
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system((a_command + " >/dev/null 2>&1").c_str());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(raw) && WEXITSTATUS(raw) == 0 ? seconds : -1.0;
}

double Median(std::vector<double> a_values) {
  std::sort(a_values.begin(), a_values.end());
  return a_values.empty() ? -1.0 : a_values[a_values.size() / 2];
}

void Write(const fs::path& a_path, const std::string& a_text) {
  fs::create_directories(a_path.parent_path());
  std::ofstream(a_path) << a_text;
}

void Measure(const fs::path& a_scratch, bool a_window, int a_runs) {
  // The GL driver keeps its compiled shaders in the cache folder too. A package's first
  // start is not the driver's: both sides share one shader cache, filled by the first runs.
  const std::string environment =
      "env ALSOFT_DRIVERS=null MESA_SHADER_CACHE_DIR='" + (a_scratch / "gl-shaders").string() + "' ";
  // The player with a cache folder of its own.
  const auto player = [&](const fs::path& a_cache) {
    return "cd '" OMBRIX_PACKAGES "' && " + environment + "XDG_CACHE_HOME='" + a_cache.string() +
           "' '" OMBRIX_PLAYER "' " + (a_window ? "" : "--nowindow ") + "--fixed-clock --frames 1 Vastrelline";
  };
  const fs::path warm = a_scratch / (a_window ? "warm-window" : "warm");
  const fs::path game = a_scratch / (a_window ? "love-window" : "love-headless");
  Write(game / "conf.lua", a_window ? "function love.conf(t) end\n"
                                    : "function love.conf(t) t.window = false; t.modules.window = false; "
                                      "t.modules.graphics = false end\n");
  Write(game / "main.lua",
        a_window ? "function love.draw() love.event.quit() end\n" : "function love.update(dt) love.event.quit() end\n");
  const std::string love = environment + "love '" + game.string() + "'";
  const char* what = a_window ? "windowed" : "headless";
  // Fills the warm cache, and shows both sides run at all.
  if (TimeRun(player(warm)) < 0 || TimeRun(love) < 0) {
    std::printf("  %s: a first run failed (is Vastrelline.qvp built? does love start?)\n", what);
    return;
  }
  std::vector<double> first, later, peer;
  for (int run = 0; run < a_runs; ++run) {
    first.push_back(TimeRun(player(a_scratch / ("fresh" + std::to_string(run)))));
    later.push_back(TimeRun(player(warm)));
    peer.push_back(TimeRun(love));
  }
  const double ours1 = Median(first), ours2 = Median(later), theirs = Median(peer);
  std::printf("  %s: love %.1f ms; ombrix first start %.1f ms (ratio %.2f), cached start %.1f ms (ratio %.2f)\n", what,
              theirs * 1e3, ours1 * 1e3, ours1 / theirs, ours2 * 1e3, ours2 / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  if (std::system("command -v love >/dev/null 2>&1") != 0) {
    std::printf("startup_bench: skipped, love is not installed (tools/setup.sh installs it)\n");
    return 0;
  }
  char pattern[] = "/tmp/ombrix-startup-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path scratch = pattern;
  std::printf("start-up to the first frame, median of %d interleaved runs:\n", runs);
  Measure(scratch, false, runs);
  if (std::getenv("DISPLAY"))
    Measure(scratch, true, runs);
  else
    std::printf("  windowed: skipped, no display (run under tests/support/withXvfb.sh)\n");
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return 0;
}
