#pragma once
// Input events read from a file and fed to the game at fixed frames, for runs that must
// behave the same every time. Each event is posted to the device as the window system's
// own events are, at the start of its frame's input step, so key records, auto-repeat,
// modifiers, the developer menu and script callbacks see no difference.
//
// One event per line, frames counted from 1 (the first frame of the main loop):
//   FRAME key NAME down|up       NAME as scripts know it (KEY_SPACE) or a key code 0-255
//   FRAME mouse BUTTON down|up   BUTTON 0 left, 1 right, 2 middle (or MOU_LEFT...)
//   FRAME move X Y               cursor position in window pixels
//   FRAME wiimote HEX...         a Wiimote input report (1 to 22 bytes, pairs of hex digits)
//   FRAME wiimote connect        the remote connects in this frame (without such a line it is
//                                there from the start)
// Blank lines and everything from a '#' are skipped. Events of one frame keep file order.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace irr {
class IrrlichtDevice;
}

class gInputReplay {
 public:
  struct Event {
    enum Kind { KEY, MOUSE, MOVE, WIIMOTE, WIIMOTE_CONNECT };
    unsigned frame = 0;
    Kind kind = KEY;
    int code = 0;  // key code, or mouse button
    bool down = false;
    int x = 0, y = 0;                  // MOVE
    std::vector<std::uint8_t> report;  // WIIMOTE
  };

  // The window's fixed size bounds a move.
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 768;

  std::vector<Event> events;  // by frame
  // Where the events go; without one they are passed over.
  irr::IrrlichtDevice* device = nullptr;
  // Where a frame's Wiimote reports go, all at once; without it they are passed over.
  std::function<void(const std::vector<std::vector<std::uint8_t>>&)> wiimote;
  // Called at the start of the frame whose "wiimote connect" line it is, before its reports.
  std::function<void()> wiimoteConnect;
  // Whether the file has Wiimote lines: reports, or a connect.
  bool HasWiimoteReports() const;
  bool HasWiimoteConnect() const;

  // The whole text, or nothing: false at the first malformed line, with a_error
  // "LINE: what is wrong".
  bool Parse(const std::string& a_text, std::string& a_error);
  // Parse of a file; a_error is "FILE:LINE: what is wrong" or says the file cannot be read.
  bool Load(const std::string& a_path, std::string& a_error);

  // Posts the events of a_frame to the device, in file order. Frames are applied in
  // ascending order; events of a frame that was passed over are dropped.
  void Apply(unsigned a_frame);

 private:
  size_t m_next = 0;
  bool m_held[256] = {};
  unsigned m_buttons = 0;  // the mouse buttons held, as Irrlicht's button-state mask
};
