// Collector figures: one incremental step on a large heap, and a full collection of a heap
// of about a million small tables, live and dead. After the benchmarks, the same full
// collections are timed in Lua 5.4 (collectgarbage("collect") on the equivalent heap,
// gcLuaPeer.lua) when lua5.4 is on the path, and printed beside ours.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"

namespace {

// The heap both languages build: heap[i] = { x = i } for i in 1..count, held by a global.
gmTableObject* BuildHeap(gmMachine& a_machine, int a_count) {
  gmTableObject* heap = a_machine.MakeTable();
  a_machine.GetGlobals()->SetByName(&a_machine, "heap", gmVariable(heap));
  gmVariable x(a_machine.MakeString("x"));
  for (gmint i = 1; i <= a_count; ++i) {
    gmTableObject* t = a_machine.MakeTable();
    t->Set(&a_machine, x, gmVariable(i));
    heap->Set(&a_machine, gmVariable(i), gmVariable(t));
  }
  return heap;
}

// One step of a cycle over a live heap of small tables: tracing steps at the default
// budget of 200 units, with the occasional roots or sweep step of each cycle mixed in.
void BM_IncrementalStep(benchmark::State& a_state) {
  gmMachine machine;
  BuildHeap(machine, static_cast<int>(a_state.range(0)));
  gmGarbageCollector* gc = machine.GetGC();
  machine.Collect(true);
  int64_t cycles = 0;
  for (auto _ : a_state) {
    if (gc->IncrementalStep(&machine)) {
      ++cycles;
      gc->StartCycle();
    }
  }
  a_state.counters["objects"] = static_cast<double>(gc->colorSet.CountObjects());
  a_state.counters["cycles"] = static_cast<double>(cycles);
}
BENCHMARK(BM_IncrementalStep)->Arg(100000)->Arg(1000000);

// sysCollectGarbage(1) with every table still referenced: three cycles, two of which trace
// the whole heap.
void BM_FullCollectLive(benchmark::State& a_state) {
  gmMachine machine;
  BuildHeap(machine, static_cast<int>(a_state.range(0)));
  for (auto _ : a_state) machine.Collect(true);
  a_state.counters["objects"] = static_cast<double>(machine.GetGC()->colorSet.CountObjects());
  a_state.counters["usageMB"] = machine.GetCurrentMemoryUsage() / 1048576.0;
}
BENCHMARK(BM_FullCollectLive)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);

// sysCollectGarbage(1) right after the global holding the heap was cleared: every table
// (and its node array) is destroyed.
void BM_FullCollectDead(benchmark::State& a_state) {
  std::unique_ptr<gmMachine> machine;
  for (auto _ : a_state) {
    a_state.PauseTiming();
    machine.reset(new gmMachine());
    BuildHeap(*machine, static_cast<int>(a_state.range(0)));
    machine->Collect(true);  // the heap survives this one; the next cycle starts afresh
    machine->GetGlobals()->SetByName(machine.get(), "heap", gmVariable::Null());
    a_state.ResumeTiming();
    machine->Collect(true);
  }
  a_state.counters["objectsLeft"] = static_cast<double>(machine->GetGC()->colorSet.CountObjects());
}
BENCHMARK(BM_FullCollectDead)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

// The heap of the gcfull kernel: entities { id, name (one of 5000), tag (its own), pos { x, y } }.
void BuildEntityHeap(gmMachine& a_machine, int a_count) {
  gmTableObject* heap = a_machine.MakeTable();
  a_machine.GetGlobals()->SetByName(&a_machine, "heap", gmVariable(heap));
  gmVariable id(a_machine.MakeString("id")), name(a_machine.MakeString("name")), tag(a_machine.MakeString("tag")),
      pos(a_machine.MakeString("pos")), x(a_machine.MakeString("x")), y(a_machine.MakeString("y"));
  for (gmint i = 0; i < a_count; ++i) {
    gmTableObject* e = a_machine.MakeTable();
    gmTableObject* p = a_machine.MakeTable();
    p->Set(&a_machine, x, gmVariable(i % 7));
    p->Set(&a_machine, y, gmVariable(i % 11));
    e->Set(&a_machine, id, gmVariable(i));
    e->Set(&a_machine, name, gmVariable(a_machine.MakeString(("unit" + std::to_string(i % 5000)).c_str())));
    e->Set(&a_machine, tag, gmVariable(a_machine.MakeString(("e" + std::to_string(i)).c_str())));
    e->Set(&a_machine, pos, gmVariable(p));
    heap->Set(&a_machine, gmVariable(i), gmVariable(e));
  }
}

double Milliseconds(std::chrono::steady_clock::duration a_d) {
  return std::chrono::duration<double, std::milli>(a_d).count();
}

// CPU time of this thread: on a machine shared with other work, wall time also counts the
// time the process waited for a core.
double ThreadCpuMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Every step of whole incremental cycles at the default budgets on the gcfull heap, and full
// collections traced once and twice. Wall time: on a busy machine the longest step is the
// one a game would feel.
void ReportSteps(int a_count) {
  gmMachine machine;
  BuildEntityHeap(machine, a_count);
  gmGarbageCollector* gc = machine.GetGC();
  machine.Collect(true);
  std::vector<double> wall, cpu;
  for (int cycle = 0; cycle < 3; ++cycle) {
    if (gc->IsOff()) gc->StartCycle();
    for (bool done = false; !done;) {
      double cpuStart = ThreadCpuMilliseconds();
      auto start = std::chrono::steady_clock::now();
      done = gc->IncrementalStep(&machine);
      wall.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
      cpu.push_back(ThreadCpuMilliseconds() - cpuStart);
    }
  }
  std::printf("\nIncremental steps on the gcfull heap (%d entities, %d objects): %zu steps\n", a_count,
              gc->colorSet.CountObjects(), wall.size());
  for (auto* times : {&cpu, &wall}) {
    std::sort(times->begin(), times->end());
    std::printf("  %s: median %.4f ms, 99.9th percentile %.4f ms, longest %.4f ms\n", times == &cpu ? "cpu " : "wall",
                (*times)[times->size() / 2], (*times)[times->size() * 999 / 1000], times->back());
  }
  for (bool oneTrace : {true, false, true, false}) {
    gc->fullInOneTrace = oneTrace;
    double cpuStart = ThreadCpuMilliseconds();
    machine.Collect(true);
    std::printf("  full collection, %s: %.1f ms cpu\n", oneTrace ? "one trace" : "two traces",
                ThreadCpuMilliseconds() - cpuStart);
  }
}

// Lua 5.4 on the same heaps, timed by the script itself with os.clock.
void RunLuaPeer() {
  std::string command = "lua5.4 " GC_BENCH_SOURCE_DIR "/gcLuaPeer.lua 1000000 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return;
  std::printf("\nLua 5.4 collectgarbage(\"collect\") on the equivalent heap:\n");
  char line[256];
  bool any = false;
  while (std::fgets(line, sizeof(line), pipe)) {
    std::fputs(line, stdout);
    any = true;
  }
  if (pclose(pipe) != 0 || !any) std::printf("(lua5.4 not available: no peer figures)\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ReportSteps(200000);
  RunLuaPeer();
  return 0;
}
