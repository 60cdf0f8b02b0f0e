// Drives a table with inserts, replacements and deletions from the fuzzer's bytes and checks
// it against a map after every operation: lookups, the count, one visit per pair, and the
// copy made by Duplicate.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "script/vm/gmMachine.h"

namespace {

void Check(bool a_ok) {
  if (!a_ok) std::abort();
}

void CheckTable(gmTableObject* a_table, const std::vector<gmVariable>& a_keys, const std::map<size_t, gmint>& a_model) {
  Check(a_table->Count() == static_cast<gmint>(a_model.size()));
  for (size_t i = 0; i < a_keys.size(); ++i) {
    gmVariable got = a_table->Get(a_keys[i]);
    auto it = a_model.find(i);
    if (it == a_model.end())
      Check(got.IsNull());
    else
      Check(got.IsInt() && got.GetInt() == it->second);
  }
  gmint cursor = -2;
  size_t visits = 0;
  while (a_table->Next(cursor)) ++visits;
  Check(cursor == -1 && visits == a_model.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* a_data, size_t a_size) {
  gmMachine machine;
  std::vector<gmVariable> keys;
  // Ints that share main nodes at every size, floats (0.0 and -0.0 among them), strings
  // and tables.
  for (gmint i = 0; i < 24; ++i) keys.emplace_back(static_cast<gmint>(i * 4 - 8));
  for (int i = 0; i < 8; ++i) keys.emplace_back(static_cast<gmfloat>(i) * 0.5f - 1.0f);
  keys.emplace_back(-0.0f);
  for (int i = 0; i < 20; ++i) keys.emplace_back(machine.MakeString(("k" + std::to_string(i)).c_str()));
  for (int i = 0; i < 11; ++i) keys.emplace_back(machine.MakeTable());

  gmTableObject* table = machine.MakeTable();
  std::map<size_t, gmint> model;
  for (size_t i = 0; i + 1 < a_size; i += 2) {
    size_t key = a_data[i] % keys.size();
    gmint value = a_data[i + 1];
    if (value < 64) {
      table->Set(&machine, keys[key], gmVariable::Null());
      model.erase(key);
    } else {
      table->Set(&machine, keys[key], gmVariable(value));
      model[key] = value;
    }
    Check(table->tableSize == 0 || (table->tableSize & (table->tableSize - 1)) == 0);
    CheckTable(table, keys, model);
  }
  CheckTable(table->Duplicate(&machine), keys, model);
  return 0;
}
