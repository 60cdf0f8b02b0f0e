// Reload in place of the default game, from a build without sanitizers, on the null driver:
//   build/bench/reload/reload_bench [RUNS [RELOADS]]
// 1. Reload against a cold start: in this process the game runs as "--dev --nowindow
//    --fixed-clock" from a copy of its staged folder; start.qv is saved again (same text, new
//    time stamp) and a reload is timed from the F5 that asks for it to the end of the new
//    game's first frame. The peer is the player started afresh on the same folder with the
//    same options for one frame, timed as a whole process. Both use one
//    warm verdict cache and the silent sound device; runs are interleaved and each figure is
//    the median of RUNS (target: reload at most 100 ms).
// 2. Memory: RELOADS reloads (default 200) in one process, each followed by a few frames of
//    the new game; the resident set after the 10th and after the last, and their ratio
//    (target within 5%).
#include <fcntl.h>
#include <irrlicht.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/_gAudio.h"
#include "binding/gmWrappable.h"
#include "clock/_gClock.h"
#include "graphics/_gGraphics.h"
#include "host/gFrame.h"
#include "host/gHost.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "tests/support/playerRun.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Median(std::vector<double> a_values) {
  std::sort(a_values.begin(), a_values.end());
  return a_values.empty() ? -1.0 : a_values[a_values.size() / 2];
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// The player's own lines ("Loaded script", "Reloaded in") would bury the figures: they go to
// /dev/null while the game runs, the figures to the standard output the bench was given.
std::FILE* TakeStandardOutput() {
  std::fflush(stdout);
  const int kept = dup(1);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  close(null);
  return fdopen(kept, "w");
}

void F5(irr::IrrlichtDevice* a_device) {
  irr::SEvent event{};
  event.EventType = irr::EET_KEY_INPUT_EVENT;
  event.KeyInput.Key = irr::KEY_F5;
  event.KeyInput.PressedDown = true;
  a_device->postEventFromUser(event);
  event.KeyInput.PressedDown = false;
  a_device->postEventFromUser(event);
}

// Seconds from F5 to the end of the new game's first frame; -1 when it did not reload.
double TimeReload(gHost& a_host, const fs::path& a_game) {
  // As an editor's save: the file is new, its text the same.
  const fs::path script = a_game / "start.qv";
  std::string text;
  {
    std::ifstream in(script, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::ofstream(script, std::ios::binary | std::ios::trunc) << text;
  const unsigned before = a_host.frame->frames;
  const auto start = Clock::now();
  F5(a_host.device);
  a_host.frame->Run();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return a_host.frame->frames == before + 1 && _gClock::instance->frameCounter == 1 ? seconds : -1.0;
}

double TimeColdStart(const fs::path& a_cache, const fs::path& a_game) {
  testSupport::PlayerOptions options;
  options.dir = fs::temp_directory_path();
  options.args = {"--nowindow", "--fixed-clock", "--frames", "1", "--dev", a_game.string()};
  options.env.push_back("XDG_CACHE_HOME=" + a_cache.string());
  const testSupport::PlayerRun run = testSupport::RunPlayer(options);
  return run.status == 0 ? run.seconds : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const int reloads = argc > 2 ? std::max(11, std::atoi(argv[2])) : 200;
  if (!fs::exists(fs::path(OMBRIX_GAME_DIR) / "start.qv")) {
    std::printf("reload_bench: %s is missing (build the target package_Vastrelline)\n", OMBRIX_GAME_DIR);
    return 1;
  }
  char pattern[] = "/tmp/ombrix-reload-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path scratch = pattern;
  const fs::path cache = scratch / "cache";
  const fs::path game = scratch / "Vastrelline";
  fs::copy(OMBRIX_GAME_DIR, game, fs::copy_options::recursive);
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  setenv("ALSOFT_DRIVERS", "null", 1);
  unsetenv("DISPLAY");
  // Fills the verdict cache that every run after it finds.
  if (TimeColdStart(cache, game) < 0) {
    std::printf("reload_bench: the player did not start the game\n");
    return 1;
  }

  std::FILE* out = TakeStandardOutput();
  const std::string here = fs::current_path().string();
  int status = 0;
  {
    gHost host;
    const std::string package = game.string();
    const char* args[] = {"ombrix", "--nowindow", "--fixed-clock", "--dev", package.c_str()};
    int exitStatus = 0;
    if (!host.Start(5, args, &exitStatus)) {
      std::fprintf(out, "reload_bench: the game did not start (status %d)\n", exitStatus);
      return 1;
    }
    host.PrepareFrame();
    for (int i = 0; i < 5; ++i) host.frame->Run();

    // Every reload counts, those of part 1 too.
    int done = 0;
    long tenth = -1;
    const auto reloadOnce = [&] {
      const double seconds = TimeReload(host, game);
      for (int i = 0; i < 3; ++i) host.frame->Run();
      if (++done == 10) tenth = ResidentKiB();
      return seconds;
    };

    std::vector<double> reload, cold;
    for (int run = 0; run < runs; ++run) {
      reload.push_back(reloadOnce());
      cold.push_back(TimeColdStart(cache, game));
    }
    if (std::count(reload.begin(), reload.end(), -1.0) + std::count(cold.begin(), cold.end(), -1.0) > 0) {
      std::fprintf(out, "reload_bench: a reload or a cold start failed\n");
      status = 1;
    } else {
      const double ours = Median(reload), theirs = Median(cold);
      std::fprintf(out,
                   "reload of Vastrelline to its first frame, median of %d interleaved runs:\n"
                   "  reload %.1f ms (target 100), cold start %.1f ms, ratio %.3f\n",
                   runs, ours * 1e3, theirs * 1e3, ours / theirs);
    }
    std::fflush(out);

    while (status == 0 && done < reloads) {
      if (reloadOnce() < 0) {
        std::fprintf(out, "reload_bench: reload %d failed\n", done);
        status = 1;
      }
    }
    const long last = ResidentKiB();
    if (status == 0)
      std::fprintf(out,
                   "resident memory: %ld KiB after reload 10, %ld KiB after reload %d, ratio %.3f (target 1.05 or "
                   "less); natives alive %ld\n",
                   tenth, last, done, static_cast<double>(last) / tenth, gmWrappable::Live());
    host.Finish();
  }
  delete _gNetwork::instance;
  delete _gAudio::instance;
  delete _gGraphics::instance;
  delete _gClock::instance;
  delete _gInput::instance;
  std::error_code ignored;
  fs::current_path(here, ignored);
  fs::remove_all(scratch, ignored);
  std::fclose(out);
  return status;
}
