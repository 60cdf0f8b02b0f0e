// Baseline figures for the interpreter's hot paths: string interning and table get, set and
// iteration, with the standard library's hash containers doing the same work as a peer
// (BM_Peer...; compare items_per_second). Run from a build without sanitizers:
//   build/bench/script_values/script_values_bench

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

std::vector<std::string> Texts(const char* a_prefix, int a_count) {
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(a_count));
  for (int i = 0; i < a_count; ++i) texts.push_back(a_prefix + std::to_string(i));
  return texts;
}

// Interning a text that already has its string: hash, chain walk, revive.
void BM_InternHit(benchmark::State& state) {
  gmMachine machine;
  const int n = static_cast<int>(state.range(0));
  std::vector<std::string> texts = Texts("member_", n);
  for (const std::string& t : texts) machine.MakeString(t.c_str());
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(machine.MakeString(texts[static_cast<size_t>(i)].c_str()));
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternHit)->Arg(64)->Arg(4096)->Arg(65536);

// Looking up a text no string has (GetByName's path): hash and chain walk, no allocation.
void BM_InternLookupMiss(benchmark::State& state) {
  gmMachine machine;
  const int n = static_cast<int>(state.range(0));
  for (const std::string& t : Texts("member_", n)) machine.MakeString(t.c_str());
  std::vector<std::string> absent = Texts("absent_", 4096);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(machine.FindString(absent[i].c_str()));
    if (++i == absent.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternLookupMiss)->Arg(64)->Arg(65536);

// Interning a new text: copy into size-class storage, shell, chain insertion. The machine
// is replaced (outside the timing) whenever the prepared texts run out.
void BM_InternMiss(benchmark::State& state) {
  std::vector<std::string> texts = Texts("fresh_", 1 << 16);
  auto machine = std::make_unique<gmMachine>();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(machine->MakeString(texts[i].c_str()));
    if (++i == texts.size()) {
      state.PauseTiming();
      machine = std::make_unique<gmMachine>();
      i = 0;
      state.ResumeTiming();
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternMiss);

void BM_TableGetInt(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const gmint n = static_cast<gmint>(state.range(0));
  for (gmint k = 0; k < n; ++k) t->Set(&machine, gmVariable(k), gmVariable(k));
  gmint k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t->Get(gmVariable(k)));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableGetInt)->Arg(16)->Arg(1024)->Arg(65536);

void BM_TableSetInt(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const gmint n = static_cast<gmint>(state.range(0));
  for (gmint k = 0; k < n; ++k) t->Set(&machine, gmVariable(k), gmVariable(k));
  gmint k = 0, v = 0;
  for (auto _ : state) {
    t->Set(&machine, gmVariable(k), gmVariable(++v));  // replace in place
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableSetInt)->Arg(16)->Arg(1024)->Arg(65536);

// Insert and delete the same keys: chain relinking without growth.
void BM_TableInsertDeleteInt(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const gmint n = static_cast<gmint>(state.range(0));
  for (gmint k = 0; k < n; ++k) t->Set(&machine, gmVariable(k), gmVariable(k));
  gmint k = 0;
  for (auto _ : state) {
    t->Set(&machine, gmVariable(k), gmVariable::Null());
    t->Set(&machine, gmVariable(k), gmVariable(k));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_TableInsertDeleteInt)->Arg(1024);

void BM_TableGetString(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const int n = static_cast<int>(state.range(0));
  std::vector<gmVariable> keys;
  for (const std::string& text : Texts("field_", n)) keys.emplace_back(machine.MakeString(text.c_str()));
  for (int i = 0; i < n; ++i) t->Set(&machine, keys[static_cast<size_t>(i)], gmVariable(static_cast<gmint>(i)));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t->Get(keys[i]));
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableGetString)->Arg(16)->Arg(1024)->Arg(65536);

void BM_TableSetString(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const int n = static_cast<int>(state.range(0));
  std::vector<gmVariable> keys;
  for (const std::string& text : Texts("field_", n)) keys.emplace_back(machine.MakeString(text.c_str()));
  for (int i = 0; i < n; ++i) t->Set(&machine, keys[static_cast<size_t>(i)], gmVariable(static_cast<gmint>(i)));
  size_t i = 0;
  gmint v = 0;
  for (auto _ : state) {
    t->Set(&machine, keys[i], gmVariable(++v));
    if (++i == keys.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableSetString)->Arg(16)->Arg(1024)->Arg(65536);

// Member access by text, as natives do it: the interning lookup plus the table probe.
void BM_TableGetByName(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  std::vector<std::string> texts = Texts("field_", 64);
  for (size_t i = 0; i < texts.size(); ++i) t->SetByName(&machine, texts[i].c_str(), gmVariable(static_cast<gmint>(i)));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t->GetByName(&machine, texts[i].c_str()));
    if (++i == texts.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TableGetByName);

// A whole foreach walk per iteration; items are pairs visited.
void BM_TableNext(benchmark::State& state) {
  gmMachine machine;
  gmTableObject* t = machine.MakeTable();
  const gmint n = static_cast<gmint>(state.range(0));
  for (gmint k = 0; k < n; ++k) t->Set(&machine, gmVariable(k * 7), gmVariable(k));
  for (auto _ : state) {
    gmint cursor = -2;
    gmint sum = 0;
    while (gmTableNode* node = t->Next(cursor)) sum += node->value.GetInt();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_TableNext)->Arg(16)->Arg(1024)->Arg(65536);

// ---- Peers -------------------------------------------------------------------------------

// Interning's peer: finding an existing text in a hash set of strings.
void BM_PeerStringSetFind(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<std::string> texts = Texts("member_", n);
  std::unordered_set<std::string> set(texts.begin(), texts.end());
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.find(texts[static_cast<size_t>(i)]));
    if (++i == n) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerStringSetFind)->Arg(64)->Arg(4096)->Arg(65536);

void BM_PeerMapGetInt(benchmark::State& state) {
  const gmint n = static_cast<gmint>(state.range(0));
  std::unordered_map<gmint, gmint> map;
  for (gmint k = 0; k < n; ++k) map[k] = k;
  gmint k = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(k));
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerMapGetInt)->Arg(16)->Arg(1024)->Arg(65536);

void BM_PeerMapSetInt(benchmark::State& state) {
  const gmint n = static_cast<gmint>(state.range(0));
  std::unordered_map<gmint, gmint> map;
  for (gmint k = 0; k < n; ++k) map[k] = k;
  gmint k = 0, v = 0;
  for (auto _ : state) {
    map[k] = ++v;
    if (++k == n) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PeerMapSetInt)->Arg(16)->Arg(1024)->Arg(65536);

void BM_PeerMapIterate(benchmark::State& state) {
  const gmint n = static_cast<gmint>(state.range(0));
  std::unordered_map<gmint, gmint> map;
  for (gmint k = 0; k < n; ++k) map[k * 7] = k;
  for (auto _ : state) {
    gmint sum = 0;
    for (const auto& pair : map) sum += pair.second;
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_PeerMapIterate)->Arg(16)->Arg(1024)->Arg(65536);

}  // namespace
