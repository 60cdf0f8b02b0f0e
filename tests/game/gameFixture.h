#pragma once
// A script machine for frame-driven tests: what scripts print is collected as lines, each
// tagged with the frame it was printed in, and tables and functions are made by running
// script text.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/gmMachineEx.h"
#include "script/values/gmTableObject.h"

namespace gameTest {

class ScriptMachine {
 public:
  std::unique_ptr<gmMachineEx> machine{new gmMachineEx()};
  // (frame, line) in the order printed.
  std::vector<std::pair<unsigned, std::string>> printed;
  unsigned frame = 0;

  ScriptMachine() {
    s_current = this;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = Capture;
  }
  ~ScriptMachine() {
    gmMachine::s_printCallback = m_savedPrint;
    s_current = nullptr;
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }

  gmTableObject* Table(const char* a_global) {
    const gmVariable v = machine->GetGlobals()->GetByName(machine.get(), a_global);
    return v.IsTable() ? v.GetTableObject() : nullptr;
  }

  // The lines printed so far, without their frames.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& p : printed) lines.push_back(p.second);
    return lines;
  }

  static ScriptMachine* s_current;

 private:
  static void Capture(gmMachine*, const char* a_text) {
    // print separates its arguments with spaces and ends with one.
    std::string line = a_text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (s_current) s_current->printed.emplace_back(s_current->frame, line);
  }
  gmPrintCallback m_savedPrint;
};

inline ScriptMachine* ScriptMachine::s_current = nullptr;

}  // namespace gameTest
