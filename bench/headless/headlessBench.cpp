// How fast the player runs a game when nothing waits, from a build without sanitizers:
//   build/bench/headless/headless_bench [FRAMES]
// An idle game (a start script of one empty statement) under --nowindow --fixed-clock, as a
// game author's CI runs it. Each measurement is the median of 5 runs of the executable; a run
// of one frame is timed too and taken off, so the figure is the main loop's alone, without
// start-up. Printed: frames per second, and the ratio against the peer that paces the same
// loop in real time (30 frames per second) and against the target of 20 000.
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;

// Seconds for one run, or a negative value when the run failed.
double TimeRun(const fs::path& a_dir, unsigned a_frames) {
  const testSupport::PlayerRun run = testSupport::RunPlayer(
      a_dir, {"--nowindow", "--fixed-clock", "--frames", std::to_string(a_frames), "--dev", "idle"});
  return run.status == 0 ? run.seconds : -1.0;
}

double Median(const fs::path& a_dir, unsigned a_frames) {
  std::vector<double> runs;
  for (int i = 0; i < 5; ++i) runs.push_back(TimeRun(a_dir, a_frames));
  std::sort(runs.begin(), runs.end());
  return runs.front() < 0 ? -1.0 : runs[runs.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned frames = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 300000u;
  std::string pattern = (fs::temp_directory_path() / "ombrix-bench-XXXXXX").string();
  const fs::path dir = mkdtemp(pattern.data());
  fs::create_directories(dir / "idle");
  std::ofstream(dir / "idle" / "start.qv") << ";";

  const double startUp = Median(dir, 1);
  const double whole = Median(dir, frames);
  fs::remove_all(dir);
  if (startUp < 0 || whole < 0 || frames < 2) {
    std::fprintf(stderr, "headless_bench: the player did not run (%s)\n", OMBRIX_TEST_PLAYER);
    return 1;
  }
  const double loop = std::max(whole - startUp, 1e-9);
  const double fps = (frames - 1) / loop;
  std::printf("idle game, --nowindow --fixed-clock, %u frames: %.2f s (start-up %.3f s)\n", frames, whole, startUp);
  std::printf("%.0f frames per second: %.0f times real time (30 fps), %.1f times the target of 20000\n", fps,
              fps / 30.0, fps / 20000.0);
  return 0;
}
