// Random object graphs mutated between incremental steps.
//
// The test keeps its own model of the heap: every table's pairs, every string's text and
// every function's references, and three kinds of roots (the globals, a thread's stack
// written without barriers as the interpreter writes it, and keep-alive handles).
// Mutations move, drop, overwrite and re-intern references the way scripts do. After every
// step, everything the model can reach must still exist; after every full collection the
// collector must hold exactly what the model reaches, with the contents the model expects.
// In the sanitizer build a destroyed object's storage is poisoned, so any use of one (by the
// collector or by the test) fails at once.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "script/gc/gmGCRoot.h"
#include "script/gc/gmGarbageCollector.h"
#include "script/vm/gmMachine.h"

namespace {

typedef std::pair<int, uint64_t> KeyId;  // a key's identity: type and payload bits
KeyId IdOf(const gmVariable& a_v) {
  return KeyId(a_v.type, a_v.IsReference() ? reinterpret_cast<uintptr_t>(a_v.GetObject()) : a_v.Payload32());
}

struct ModelObject {
  int type = GM_NULL;
  std::string text;                                          // strings
  std::map<KeyId, std::pair<gmVariable, gmVariable>> pairs;  // tables: key -> (key, value)
  std::vector<gmObject*> references;                         // functions
};

class Stress {
 public:
  explicit Stress(unsigned a_seed) : m_rng(a_seed) {
    m_gc = m_machine.GetGC();
    // A thread that never runs: its stack slots are written the way the interpreter writes
    // them, without barriers, and the root marking reads them from the running list.
    m_thread = m_machine.NewThread();
    for (int i = 0; i < kStackSlots; ++i) m_thread->PushNull();
    m_handles.resize(4);
    AdoptExisting(m_machine.GetGlobals());
    m_machine.autoMemoryLimits = false;
    // Every Collect() is an incremental step; a cycle starts as soon as one ends.
    m_machine.desiredMemorySoft = 0;
    m_machine.desiredMemoryHard = INT32_MAX;
  }

  void Run(int a_batches) {
    for (int batch = 0; batch < a_batches && !::testing::Test::HasFatalFailure(); ++batch) {
      // Small, varying budgets make long cycles that many mutations interleave with.
      m_gc->workPerStep = Pick(1, 40);
      m_gc->freePerStep = Pick(1, 8);
      ComputeReachable();
      int mutations = Pick(1, 12);
      for (int i = 0; i < mutations; ++i) Mutate();
      if (Pick(0, 60) == 0) {
        EXPECT_TRUE(m_machine.Collect(true));
        CheckExact();
      } else {
        m_machine.Collect();
        CheckReachableAlive();
      }
    }
    m_machine.Collect(true);
    CheckExact();
  }

  int fullChecks = 0;
  size_t maxLive = 0;

 private:
  static const int kStackSlots = 8;
  gmVariable& Slot(int a_index) { return m_thread->GetBottom()[a_index]; }
  gmVariable& AnySlot() { return Slot(Pick(0, kStackSlots - 1)); }

  int Pick(int a_lo, int a_hi) { return std::uniform_int_distribution<int>(a_lo, a_hi)(m_rng); }

  // ---- The model -------------------------------------------------------------------------
  void Adopt(gmObject* a_obj) {
    ModelObject& m = m_model[a_obj];
    m = ModelObject();
    m.type = a_obj->GetType();
  }

  // The machine starts with objects of its own (the natives it registers as globals).
  void AdoptExisting(gmObject* a_obj) {
    if (a_obj->persist || m_model.count(a_obj)) return;
    Adopt(a_obj);
    ModelObject& m = m_model[a_obj];
    if (m.type == GM_STRING) {
      m.text = static_cast<gmStringObject*>(a_obj)->text;
    } else if (m.type == GM_TABLE) {
      gmTableObject* t = static_cast<gmTableObject*>(a_obj);
      gmint cursor = -2;
      while (gmTableNode* node = t->Next(cursor)) {
        m.pairs[IdOf(node->key)] = std::make_pair(node->key, node->value);
        if (node->key.IsReference()) AdoptExisting(node->key.GetObject());
        if (node->value.IsReference()) AdoptExisting(node->value.GetObject());
      }
    } else if (m.type == GM_FUNCTION) {
      gmFunctionObject* f = static_cast<gmFunctionObject*>(a_obj);
      for (gmint i = 0; i < f->numReferences; ++i) {
        m.references.push_back(f->references[i]);
        AdoptExisting(f->references[i]);
      }
    }
  }

  // Reachable from the roots through the model's edges (the collector is not consulted).
  // Persistent objects are never collected and stay out of the model.
  void ComputeReachable() {
    m_reachable.clear();
    m_reachableList.clear();
    std::vector<gmObject*> work;
    auto reach = [&](const gmVariable& v) {
      if (v.IsReference() && !v.GetObject()->persist && m_reachable.insert(v.GetObject()).second) {
        work.push_back(v.GetObject());
        m_reachableList.push_back(v.GetObject());
      }
    };
    reach(gmVariable(m_machine.GetGlobals()));
    for (int i = 0; i < kStackSlots; ++i) reach(Slot(i));
    for (const gmGCRoot& h : m_handles) reach(h.Get());
    while (!work.empty()) {
      gmObject* obj = work.back();
      work.pop_back();
      const ModelObject& m = m_model.at(obj);
      for (const auto& p : m.pairs) {
        reach(p.second.first);
        reach(p.second.second);
      }
      for (gmObject* r : m.references) reach(gmVariable(r->GetType(), r));
    }
    // Forget what nothing reaches: the collector may destroy it and reuse its storage.
    for (auto it = m_model.begin(); it != m_model.end();) {
      if (m_reachable.count(it->first))
        ++it;
      else
        it = m_model.erase(it);
    }
    if (m_reachable.size() > maxLive) maxLive = m_reachable.size();
  }

  // A value the script could be holding now: something reachable, something new, or an int.
  gmVariable AnyValue() {
    switch (Pick(0, 9)) {
      case 0:
        return gmVariable(static_cast<gmint>(Pick(0, 50)));
      case 1:
      case 2:
        return NewTable();
      case 3:
        return NewString();
      case 4:
        return NewFunction();
      default:
        if (m_reachableList.empty()) return NewTable();
        gmObject* obj = m_reachableList[Pick(0, static_cast<int>(m_reachableList.size()) - 1)];
        return gmVariable(obj->GetType(), obj);
    }
  }
  gmVariable AnyKey() {
    if (Pick(0, 2) == 0) return gmVariable(static_cast<gmint>(Pick(0, 30)));
    if (Pick(0, 3) == 0) {
      gmVariable v = AnyValue();
      if (v.IsReference()) return v;
    }
    return NewString();
  }
  gmTableObject* AnyTable() {
    for (int tries = 0; tries < 8 && !m_reachableList.empty(); ++tries) {
      gmObject* obj = m_reachableList[Pick(0, static_cast<int>(m_reachableList.size()) - 1)];
      if (obj->GetType() == GM_TABLE) return static_cast<gmTableObject*>(obj);
    }
    return m_machine.GetGlobals();
  }

  gmVariable NewTable() {
    gmTableObject* t = m_machine.MakeTable();
    Adopt(t);
    return gmVariable(t);
  }
  // Texts from a small pool, so interning hits live strings and strings waiting in free.
  gmVariable NewString() {
    std::string text = "s" + std::to_string(Pick(0, 150));
    gmStringObject* s = m_machine.MakeString(text.c_str());
    auto it = m_model.find(s);
    if (it == m_model.end()) {
      Adopt(s);
      m_model[s].text = text;
    } else {
      EXPECT_EQ(it->second.text, text);
    }
    return gmVariable(s);
  }
  gmVariable NewFunction() {
    gmFunctionObject* f = m_machine.MakeScriptFunction();
    Adopt(f);
    int n = Pick(0, 3);
    std::vector<gmObject*> refs;
    for (int i = 0; i < n; ++i) {
      gmVariable v = Pick(0, 1) ? NewString() : AnyValue();
      if (v.type == GM_STRING || v.type == GM_FUNCTION) refs.push_back(v.GetObject());
    }
    f->numReferences = static_cast<gmint>(refs.size());
    // NOLINTNEXTLINE(bugprone-sizeof-expression): an array of object pointers
    f->references = static_cast<gmObject**>(m_machine.Alloc(sizeof(gmObject*) * (refs.size() + 1)));
    for (size_t i = 0; i < refs.size(); ++i) f->references[i] = refs[i];
    m_model[f].references = refs;
    return gmVariable(f);
  }

  void TableSet(gmTableObject* a_table, const gmVariable& a_key, const gmVariable& a_value) {
    a_table->Set(&m_machine, a_key, a_value);
    auto& pairs = m_model.at(a_table).pairs;
    if (a_value.IsNull())
      pairs.erase(IdOf(a_key));
    else
      pairs[IdOf(a_key)] = std::make_pair(a_key, a_value);
    // Whatever the script stored may have been unreachable a moment ago (held in a local):
    // it is reachable again, so it may be picked from now on.
    for (const gmVariable* v : {&a_key, &a_value}) {
      gmObject* obj = v->IsReference() ? v->GetObject() : nullptr;
      if (obj && !obj->persist && m_reachable.insert(obj).second) m_reachableList.push_back(obj);
    }
  }

  void Mutate() {
    // Past a thousand reachable objects, deletions win and the heap shrinks again.
    int op = m_reachableList.size() > 1000 && Pick(0, 1) ? 5 : Pick(0, 9);
    switch (op) {
      case 0:
      case 1:
      case 2: {  // store something under a new or existing key
        gmTableObject* t = AnyTable();
        TableSet(t, AnyKey(), AnyValue());
        break;
      }
      case 3:
      case 4: {  // move a value from one table to another: the classic barrier case
        gmTableObject* from = AnyTable();
        const auto& pairs = m_model.at(from).pairs;
        if (pairs.empty()) break;
        auto it = pairs.begin();
        std::advance(it, Pick(0, static_cast<int>(pairs.size()) - 1));
        gmVariable key = it->second.first;
        gmVariable value = it->second.second;
        AnySlot() = value;  // as a local would hold it
        TableSet(from, key, gmVariable::Null());
        TableSet(AnyTable(), AnyKey(), value);
        break;
      }
      case 5: {  // delete or overwrite an existing pair
        gmTableObject* t = AnyTable();
        const auto& pairs = m_model.at(t).pairs;
        if (pairs.empty()) break;
        auto it = pairs.begin();
        std::advance(it, Pick(0, static_cast<int>(pairs.size()) - 1));
        gmVariable key = it->second.first;
        TableSet(t, key, Pick(0, 2) ? gmVariable::Null() : AnyValue());
        break;
      }
      case 6:  // stack slots change without any barrier
        AnySlot() = Pick(0, 2) ? AnyValue() : gmVariable::Null();
        break;
      case 7: {  // keep-alive handles
        gmGCRoot& h = m_handles[Pick(0, 3)];
        if (Pick(0, 2))
          h.Set(&m_machine, AnyValue());
        else
          h.Release();
        break;
      }
      case 8:  // re-intern a text that may be waiting in free, and keep it
        AnySlot() = NewString();
        break;
      default: {  // a burst of garbage
        for (int i = 0; i < 10; ++i) Pick(0, 1) ? NewTable() : NewFunction();
        break;
      }
    }
  }

  // ---- Checks ----------------------------------------------------------------------------
  // Every object the collector holds (persistent ones aside), sorted.
  const std::vector<gmGCObjBase*>& LiveObjects() {
    m_live.clear();
    m_gc->colorSet.ForEachObject([this](gmGCObjBase* a_obj) { m_live.push_back(a_obj); });
    std::sort(m_live.begin(), m_live.end());
    return m_live;
  }
  bool IsLive(gmGCObjBase* a_obj) const { return std::binary_search(m_live.begin(), m_live.end(), a_obj); }

  void CheckReachableAlive() {
    LiveObjects();
    for (gmObject* obj : m_reachableList) {
      if (!IsLive(obj)) {
        ADD_FAILURE() << "reachable object of type " << m_model[obj].type << " was destroyed";
        return;
      }
    }
  }

  void CheckExact() {
    ++fullChecks;
    ComputeReachable();
    // Beyond the model: the variables table of each type.
    EXPECT_EQ(LiveObjects().size(), m_reachable.size() + static_cast<size_t>(m_machine.GetNumTypes()));
    for (gmObject* obj : m_reachableList) {
      ASSERT_TRUE(IsLive(obj)) << "reachable object destroyed";
      const ModelObject& m = m_model.at(obj);
      ASSERT_EQ(obj->GetType(), m.type);
      if (m.type == GM_STRING) {
        EXPECT_EQ(static_cast<gmStringObject*>(obj)->text, m.text);
      } else if (m.type == GM_TABLE) {
        gmTableObject* t = static_cast<gmTableObject*>(obj);
        ASSERT_EQ(t->Count(), static_cast<gmint>(m.pairs.size()));
        for (const auto& p : m.pairs) EXPECT_TRUE(t->Get(p.second.first).Same(p.second.second));
      } else if (m.type == GM_FUNCTION) {
        gmFunctionObject* f = static_cast<gmFunctionObject*>(obj);
        ASSERT_EQ(f->numReferences, static_cast<gmint>(m.references.size()));
        for (size_t i = 0; i < m.references.size(); ++i) EXPECT_EQ(f->references[i], m.references[i]);
      }
    }
  }

  gmMachine m_machine;
  gmGarbageCollector* m_gc;
  gmThread* m_thread;
  std::mt19937 m_rng;
  std::unordered_map<gmObject*, ModelObject> m_model;
  std::unordered_set<gmObject*> m_reachable;
  std::vector<gmObject*> m_reachableList;
  std::vector<gmGCRoot> m_handles;
  std::vector<gmGCObjBase*> m_live;
};

TEST(GCStress, RandomGraphsMutatedBetweenSteps) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    Stress stress(seed);
    stress.Run(3000);
    std::printf("seed %u: %d full checks, at most %zu reachable objects\n", seed, stress.fullChecks, stress.maxLive);
    EXPECT_GT(stress.fullChecks, 20);
    EXPECT_GT(stress.maxLive, 100u);
  }
}

}  // namespace
