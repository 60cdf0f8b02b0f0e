#include "input/inpEventReceiver.h"

#include <irrlicht.h>

#include "input/_gInput.h"
#include "input/inpDeveloperMenu.h"

namespace {

// Games bind the Windows codes of Shift, Control and Alt (16, 17, 18), which an X11 window
// never sends: it sends only the left and right keys (160 to 165). Each side also drives
// the shared record, held while either side is.
constexpr int kFirstSidedModifier = 160;
constexpr int kLastSidedModifier = 165;
constexpr int kShift = 16;

}  // namespace

bool inpEventReceiver::OnEvent(const irr::SEvent& a_event) {
  inpDeveloperMenu* menu = input ? input->menu : nullptr;
  const bool menuOpen = menu && menu->IsOpen();
  switch (a_event.EventType) {
    case irr::EET_KEY_INPUT_EVENT: {
      const int key = static_cast<int>(a_event.KeyInput.Key);
      const bool down = a_event.KeyInput.PressedDown;
      if (!menuOpen) OnKey(key, down);
      if (menuOpen && key != irr::KEY_ESCAPE) menu->OnKeyWhileOpen(a_event);
      if (key == irr::KEY_ESCAPE && down && input && input->developer && menu) menu->Toggle();
      break;
    }
    case irr::EET_MOUSE_INPUT_EVENT: {
      if (menuOpen || !mouse) break;
      const int kind = static_cast<int>(a_event.MouseInput.Event);
      if (kind >= irr::EMIE_LMOUSE_PRESSED_DOWN && kind <= irr::EMIE_MMOUSE_PRESSED_DOWN)
        mouse->buttons[kind - irr::EMIE_LMOUSE_PRESSED_DOWN].Press();
      else if (kind >= irr::EMIE_LMOUSE_LEFT_UP && kind <= irr::EMIE_MMOUSE_LEFT_UP)
        mouse->buttons[kind - irr::EMIE_LMOUSE_LEFT_UP].Release();
      break;
    }
    case irr::EET_GUI_EVENT:
      if (menuOpen) menu->OnGuiEvent(a_event);
      break;
    case irr::EET_LOG_TEXT_EVENT:
      if (menu && a_event.LogEvent.Text) menu->OnLogText(a_event.LogEvent.Text);
      break;
    default:
      break;
  }
  return false;
}

void inpEventReceiver::OnKey(int a_key, bool a_down) {
  if (!keys || a_key < 0 || a_key > 255) return;
  if (a_down)
    keys[a_key].Press();
  else
    keys[a_key].Release();
  if (a_key < kFirstSidedModifier || a_key > kLastSidedModifier) return;
  inpButtonState& shared = keys[kShift + (a_key - kFirstSidedModifier) / 2];
  const inpButtonState& otherSide = keys[a_key ^ 1];
  if (a_down)
    shared.Press();
  else if (!otherSide.down)
    shared.Release();
}
