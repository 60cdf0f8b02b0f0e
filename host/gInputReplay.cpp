#include "host/gInputReplay.h"

#include <irrlicht.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "binding/gConsole.h"
#include "binding/gScriptConstants.h"

namespace {

// A whole decimal number within [a_min, a_max], nothing around it.
bool ParseInt(const std::string& a_text, long a_min, long a_max, long& a_value) {
  if (a_text.empty() || a_text.size() > 10) return false;
  size_t i = a_text[0] == '-' ? 1 : 0;
  if (i == a_text.size()) return false;
  long value = 0;
  for (; i < a_text.size(); ++i) {
    if (a_text[i] < '0' || a_text[i] > '9') return false;
    value = value * 10 + (a_text[i] - '0');
  }
  if (a_text[0] == '-') value = -value;
  if (value < a_min || value > a_max) return false;
  a_value = value;
  return true;
}

// Named constants of one family (KEY_ or MOU_), as scripts see them.
bool ConstantNamed(const std::string& a_name, const char* a_prefix, int& a_value) {
  if (a_name.compare(0, std::strlen(a_prefix), a_prefix) != 0) return false;
  for (const gScriptConstant& constant : gScriptConstants) {
    if (a_name == constant.name) {
      a_value = constant.value;
      return true;
    }
  }
  return false;
}

bool ParseDirection(const std::string& a_word, bool& a_down) {
  if (a_word == "down")
    a_down = true;
  else if (a_word == "up")
    a_down = false;
  else
    return false;
  return true;
}

// The problem with one line's words, or empty when they make an event.
std::string ParseLine(const std::vector<std::string>& a_words, gInputReplay::Event& a_event) {
  long number = 0;
  if (!ParseInt(a_words[0], 1, 0x7fffffff, number))
    return "the frame must be a whole number from 1 up, not \"" + gConsole::Quote(a_words[0]) + "\"";
  a_event.frame = static_cast<unsigned>(number);
  if (a_words.size() < 2) return "an event is FRAME key|mouse|move ...";
  const std::string& kind = a_words[1];
  if (kind == "key" || kind == "mouse") {
    const bool key = kind == "key";
    if (a_words.size() != 4)
      return "expected FRAME " + gConsole::Quote(kind) + (key ? " NAME" : " BUTTON") + " down|up";
    a_event.kind = key ? gInputReplay::Event::KEY : gInputReplay::Event::MOUSE;
    int code = 0;
    if (ConstantNamed(a_words[2], key ? "KEY_" : "MOU_", code))
      a_event.code = code;
    else if (ParseInt(a_words[2], 0, key ? 255 : 2, number))
      a_event.code = static_cast<int>(number);
    else if (key)
      return "unknown key \"" + gConsole::Quote(a_words[2]) + "\" (a KEY_ name or a key code from 0 to 255)";
    else
      return "unknown mouse button \"" + gConsole::Quote(a_words[2]) + "\" (0, 1 or 2)";
    if (!ParseDirection(a_words[3], a_event.down))
      return "expected down or up, not \"" + gConsole::Quote(a_words[3]) + "\"";
    return "";
  }
  if (kind == "move") {
    if (a_words.size() != 4) return "expected FRAME move X Y";
    long x = 0, y = 0;
    if (!ParseInt(a_words[2], 0, gInputReplay::kWidth - 1, x) || !ParseInt(a_words[3], 0, gInputReplay::kHeight - 1, y))
      return "a move needs whole pixel positions inside the 1024 by 768 window";
    a_event.kind = gInputReplay::Event::MOVE;
    a_event.x = static_cast<int>(x);
    a_event.y = static_cast<int>(y);
    return "";
  }
  if (kind == "wiimote") {
    if (a_words.size() == 3 && a_words[2] == "connect") {
      a_event.kind = gInputReplay::Event::WIIMOTE_CONNECT;
      return "";
    }
    std::string hex;
    for (size_t i = 2; i < a_words.size(); ++i) hex += a_words[i];
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() > 44 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return "a Wiimote line is \"connect\" or a report of 1 to 22 bytes, each two hexadecimal digits";
    a_event.kind = gInputReplay::Event::WIIMOTE;
    for (size_t i = 0; i < hex.size(); i += 2)
      a_event.report.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return "";
  }
  return "unknown event \"" + gConsole::Quote(kind) + "\" (key, mouse, move or wiimote)";
}

// The character a key types when it has an obvious one, for text fields of the developer
// console; the window system reports it with the key.
// The character a key types on a US keyboard, as the window system would report it with
// the replayed modifiers held.
wchar_t CharOf(int a_key, bool a_shift) {
  if (a_key == irr::KEY_SPACE) return L' ';
  if (a_key >= irr::KEY_KEY_0 && a_key <= irr::KEY_KEY_9)
    return a_shift ? L")!@#$%^&*("[a_key - irr::KEY_KEY_0] : static_cast<wchar_t>(L'0' + a_key - irr::KEY_KEY_0);
  if (a_key >= irr::KEY_KEY_A && a_key <= irr::KEY_KEY_Z)
    return static_cast<wchar_t>((a_shift ? L'A' : L'a') + a_key - irr::KEY_KEY_A);
  if (a_key >= irr::KEY_NUMPAD0 && a_key <= irr::KEY_NUMPAD9)
    return static_cast<wchar_t>(L'0' + a_key - irr::KEY_NUMPAD0);
  struct Punctuation {
    int key;
    wchar_t plain, shifted;
  };
  static const Punctuation kPunctuation[] = {
      {irr::KEY_OEM_1, L';', L':'},  {irr::KEY_PLUS, L'=', L'+'},     {irr::KEY_COMMA, L',', L'<'},
      {irr::KEY_MINUS, L'-', L'_'},  {irr::KEY_PERIOD, L'.', L'>'},   {irr::KEY_OEM_2, L'/', L'?'},
      {irr::KEY_OEM_3, L'`', L'~'},  {irr::KEY_OEM_4, L'[', L'{'},    {irr::KEY_OEM_5, L'\\', L'|'},
      {irr::KEY_OEM_6, L']', L'}'},  {irr::KEY_OEM_7, L'\'', L'"'},   {irr::KEY_MULTIPLY, L'*', L'*'},
      {irr::KEY_ADD, L'+', L'+'},    {irr::KEY_SUBTRACT, L'-', L'-'}, {irr::KEY_DECIMAL, L'.', L'.'},
      {irr::KEY_DIVIDE, L'/', L'/'},
  };
  for (const Punctuation& p : kPunctuation)
    if (p.key == a_key) return a_shift ? p.shifted : p.plain;
  return 0;
}

}  // namespace

bool gInputReplay::Parse(const std::string& a_text, std::string& a_error) {
  events.clear();
  m_next = 0;
  std::istringstream in(a_text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const size_t comment = line.find('#');
    if (comment != std::string::npos) line.erase(comment);
    std::istringstream words(line);
    std::vector<std::string> parts;
    for (std::string word; words >> word;) parts.push_back(word);
    if (parts.empty()) continue;
    Event event;
    const std::string problem = ParseLine(parts, event);
    if (!problem.empty()) {
      a_error = std::to_string(number) + ": " + problem;
      events.clear();
      return false;
    }
    events.push_back(event);
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.frame < b.frame; });
  return true;
}

bool gInputReplay::Load(const std::string& a_path, std::string& a_error) {
  std::error_code ignored;
  std::ifstream file(a_path, std::ios::binary);
  std::ostringstream text;
  if (file && !std::filesystem::is_directory(a_path, ignored)) text << file.rdbuf();
  if (!file || file.bad() || std::filesystem::is_directory(a_path, ignored)) {
    a_error = "cannot read the input file " + gConsole::Quote(a_path);
    return false;
  }
  if (Parse(text.str(), a_error)) return true;
  a_error = gConsole::Quote(a_path) + ":" + a_error;
  return false;
}

bool gInputReplay::HasWiimoteReports() const {
  return std::any_of(events.begin(), events.end(),
                     [](const Event& e) { return e.kind == Event::WIIMOTE || e.kind == Event::WIIMOTE_CONNECT; });
}

bool gInputReplay::HasWiimoteConnect() const {
  return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::WIIMOTE_CONNECT; });
}

void gInputReplay::Apply(unsigned a_frame) {
  while (m_next < events.size() && events[m_next].frame < a_frame) ++m_next;
  if (!device) return;
  irr::gui::ICursorControl* cursor = device->getCursorControl();
  std::vector<std::vector<std::uint8_t>> reports;
  for (; m_next < events.size() && events[m_next].frame == a_frame; ++m_next) {
    const Event& e = events[m_next];
    if (e.kind == Event::WIIMOTE_CONNECT) {
      if (wiimoteConnect) wiimoteConnect();
      continue;
    }
    if (e.kind == Event::WIIMOTE) {
      reports.push_back(e.report);
      continue;
    }
    const bool shift = m_held[irr::KEY_SHIFT] || m_held[irr::KEY_LSHIFT] || m_held[irr::KEY_RSHIFT];
    const bool control = m_held[irr::KEY_CONTROL] || m_held[irr::KEY_LCONTROL] || m_held[irr::KEY_RCONTROL];
    irr::SEvent event;
    std::memset(&event, 0, sizeof event);
    if (e.kind == Event::KEY) {
      m_held[e.code] = e.down;
      event.EventType = irr::EET_KEY_INPUT_EVENT;
      event.KeyInput.Key = static_cast<irr::EKEY_CODE>(e.code);
      event.KeyInput.PressedDown = e.down;
      event.KeyInput.Shift = shift;
      event.KeyInput.Control = control;
      event.KeyInput.Char = CharOf(e.code, shift);
    } else {
      // The pointer is where the game will read it: the input step asks the cursor, and
      // a move event alone would not change that.
      if (e.kind == Event::MOVE && cursor) cursor->setPosition(e.x, e.y);
      const irr::core::position2d<irr::s32> at =
          cursor ? cursor->getPosition() : irr::core::position2d<irr::s32>(e.x, e.y);
      event.EventType = irr::EET_MOUSE_INPUT_EVENT;
      if (e.kind == Event::MOVE) {
        event.MouseInput.Event = irr::EMIE_MOUSE_MOVED;
      } else {
        const unsigned mask = 1u << e.code;  // left 1, right 2, middle 4, as in EMBSM_
        m_buttons = e.down ? (m_buttons | mask) : (m_buttons & ~mask);
        event.MouseInput.Event = static_cast<irr::EMOUSE_INPUT_EVENT>(
            (e.down ? irr::EMIE_LMOUSE_PRESSED_DOWN : irr::EMIE_LMOUSE_LEFT_UP) + e.code);
      }
      event.MouseInput.X = e.kind == Event::MOVE ? e.x : at.X;
      event.MouseInput.Y = e.kind == Event::MOVE ? e.y : at.Y;
      event.MouseInput.ButtonStates = m_buttons;
      event.MouseInput.Shift = shift;
      event.MouseInput.Control = control;
    }
    device->postEventFromUser(event);
  }
  if (!reports.empty() && wiimote) wiimote(reports);
}
