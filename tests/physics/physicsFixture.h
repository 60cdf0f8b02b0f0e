#pragma once
// The physics tests' fixture: whole frames in-process (tests/support/physicsGame.h), with
// what scripts print and the console lines captured. Scripts build the scenes; the tests
// read what scripts print, the console lines, and the bodies themselves.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "binding/gConsole.h"
#include "tests/support/physicsGame.h"

namespace physicsTest {

class PhysicsTest : public testing::Test {
 protected:
  void SetUp() override {
    s_current = this;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = CapturePrint;
    gConsole::SetSink(CaptureConsole);
    game = std::make_unique<testSupport::PhysicsGame>();
    machine = game->machine;
  }
  void TearDown() override {
    game.reset();
    gConsole::SetSink(nullptr);
    gmMachine::s_printCallback = m_savedPrint;
    s_current = nullptr;
  }

  void Run(const std::string& a_text) { ASSERT_EQ(machine->RunString(a_text.c_str()), 0) << a_text; }
  void Frames(int a_count) { game->Frames(a_count); }
  int LogCount() { return machine->GetLog().GetEntryCount(); }
  // The Vector3 held by a global (zero when it holds none).
  gVector3 Vec(const char* a_global) {
    const gmVariable v = machine->GetGlobals()->GetByName(machine, a_global);
    const gmUserObject* user = v.type >= GM_USER ? v.GetUserObject() : nullptr;
    return user && user->user ? *static_cast<const gVector3*>(user->user) : gVector3();
  }
  static objPhysics* Body(const char* a_scene, const char* a_object) {
    return testSupport::PhysicsGame::Body(a_scene, a_object);
  }

  std::unique_ptr<testSupport::PhysicsGame> game;
  gmMachineEx* machine = nullptr;
  std::vector<std::string> printed;
  std::vector<std::string> console;

 private:
  static void CapturePrint(gmMachine*, const char* a_text) {
    std::string line = a_text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    s_current->printed.push_back(line);
  }
  static void CaptureConsole(const char* a_line) { s_current->console.push_back(a_line); }
  static inline PhysicsTest* s_current = nullptr;
  gmPrintCallback m_savedPrint = nullptr;
};

}  // namespace physicsTest
