// Collector figures: one incremental step on a large heap, and a full collection of a heap
// of about a million small tables, live and dead. After the benchmarks, the same full
// collections are timed in Lua 5.4 (collectgarbage("collect") on the equivalent heap,
// gcLuaPeer.lua) when lua5.4 is on the path, and printed beside ours.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

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
  RunLuaPeer();
  return 0;
}
