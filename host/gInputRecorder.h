#pragma once
// "--record FILE": the keyboard, mouse and Wiimote events a game receives, written as the
// lines "--input" replays (gInputReplay), each with the frame whose input step saw it.
// Key and mouse events are taken as the window delivers them, before anything else sees
// them; Wiimote data reports as the frame's state first shows them. A burst of pointer
// moves within one frame is written as its last move: the game reads the pointer once.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace irr {
struct SEvent;
}

class gInputRecorder {
 public:
  ~gInputRecorder();

  // Starts the file anew; false with a_error when it cannot be written.
  bool Open(const std::string& a_path, std::string& a_error);
  // The frame whose input step comes next (from 1).
  unsigned frame = 1;
  void OnEvent(const irr::SEvent& a_event);
  void OnWiimoteReport(const std::vector<std::uint8_t>& a_report);
  // The remote connected in this frame's input step.
  void OnWiimoteConnect();
  // Writes what is held back and closes the file; false when writing failed.
  bool Close();

  // The key's name as scripts know it, or its code.
  static std::string KeyName(int a_code);

 private:
  void Write(const std::string& a_line);
  void FlushMove();

  std::FILE* m_file = nullptr;
  bool m_failed = false;
  std::string m_move;  // the frame's last pointer move, not yet written
};
