#include "host/gInputRecorder.h"

#include <irrlicht.h>

#include <algorithm>
#include <cstring>

#include "binding/gScriptConstants.h"
#include "host/gInputReplay.h"

gInputRecorder::~gInputRecorder() { Close(); }

bool gInputRecorder::Open(const std::string& a_path, std::string& a_error) {
  m_file = std::fopen(a_path.c_str(), "w");
  if (!m_file) {
    a_error = "cannot write the recording " + a_path + ": " + std::strerror(errno);
    return false;
  }
  Write("# input recorded by ombrix --record: FRAME key|mouse|move|wiimote ...");
  return true;
}

std::string gInputRecorder::KeyName(int a_code) {
  for (const gScriptConstant& constant : gScriptConstants)
    if (constant.value == a_code && std::strncmp(constant.name, "KEY_", 4) == 0) return constant.name;
  return std::to_string(a_code);
}

void gInputRecorder::OnEvent(const irr::SEvent& a_event) {
  if (!m_file) return;
  const std::string at = std::to_string(frame) + " ";
  if (a_event.EventType == irr::EET_KEY_INPUT_EVENT) {
    const int code = static_cast<int>(a_event.KeyInput.Key);
    if (code < 0 || code > 255) return;
    FlushMove();
    Write(at + "key " + KeyName(code) + (a_event.KeyInput.PressedDown ? " down" : " up"));
    return;
  }
  if (a_event.EventType != irr::EET_MOUSE_INPUT_EVENT) return;
  const irr::EMOUSE_INPUT_EVENT kind = a_event.MouseInput.Event;
  if (kind == irr::EMIE_MOUSE_MOVED) {
    const int x = std::clamp(a_event.MouseInput.X, 0, gInputReplay::kWidth - 1);
    const int y = std::clamp(a_event.MouseInput.Y, 0, gInputReplay::kHeight - 1);
    if (!m_move.empty() && m_move.compare(0, at.size(), at) != 0) FlushMove();
    m_move = at + "move " + std::to_string(x) + " " + std::to_string(y);
    return;
  }
  int button = -1;
  bool down = false;
  switch (kind) {
    case irr::EMIE_LMOUSE_PRESSED_DOWN:
      button = 0;
      down = true;
      break;
    case irr::EMIE_RMOUSE_PRESSED_DOWN:
      button = 1;
      down = true;
      break;
    case irr::EMIE_MMOUSE_PRESSED_DOWN:
      button = 2;
      down = true;
      break;
    case irr::EMIE_LMOUSE_LEFT_UP:
      button = 0;
      break;
    case irr::EMIE_RMOUSE_LEFT_UP:
      button = 1;
      break;
    case irr::EMIE_MMOUSE_LEFT_UP:
      button = 2;
      break;
    default:
      return;
  }
  FlushMove();
  Write(at + "mouse " + std::to_string(button) + (down ? " down" : " up"));
}

void gInputRecorder::OnWiimoteReport(const std::vector<std::uint8_t>& a_report) {
  if (!m_file || a_report.empty()) return;
  FlushMove();
  std::string line = std::to_string(frame) + " wiimote";
  char hex[4];
  for (std::uint8_t byte : a_report) {
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  Write(line);
}

void gInputRecorder::OnWiimoteConnect() {
  if (!m_file) return;
  FlushMove();
  Write(std::to_string(frame) + " wiimote connect");
}

void gInputRecorder::FlushMove() {
  if (m_move.empty()) return;
  const std::string move = m_move;
  m_move.clear();
  Write(move);
}

void gInputRecorder::Write(const std::string& a_line) {
  if (!m_file) return;
  // Line by line: a run that ends badly keeps what it recorded.
  if (std::fprintf(m_file, "%s\n", a_line.c_str()) < 0 || std::fflush(m_file) != 0) m_failed = true;
}

bool gInputRecorder::Close() {
  if (!m_file) return !m_failed;
  FlushMove();
  if (std::fclose(m_file) != 0) m_failed = true;
  m_file = nullptr;
  return !m_failed;
}
