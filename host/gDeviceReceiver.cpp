#include "host/gDeviceReceiver.h"

#include <cstdio>

#include "host/gInputRecorder.h"

bool gDeviceReceiver::OnEvent(const irr::SEvent& event) {
  if (recorder) recorder->OnEvent(event);
  if (reloadKeys && event.EventType == irr::EET_KEY_INPUT_EVENT &&
      (event.KeyInput.Key == irr::KEY_F5 || event.KeyInput.Key == irr::KEY_KEY_R)) {
    const bool f5 = event.KeyInput.Key == irr::KEY_F5;
    bool& held = m_reloadKeyHeld[f5 ? 0 : 1];
    if (event.KeyInput.PressedDown && (f5 || event.KeyInput.Control || held)) {
      if (!held) reloadAsked = true;
      held = true;
      return true;
    }
    if (!event.KeyInput.PressedDown && (f5 || held)) {
      held = false;
      return true;
    }
  }
  const bool handled = inner && inner->OnEvent(event);
  if (event.EventType != irr::EET_LOG_TEXT_EVENT) return handled;
  if (!handled && event.LogEvent.Text) std::fprintf(stderr, "%s\n", event.LogEvent.Text);
  // Claiming the event is what stops Irrlicht from printing it to standard output.
  return true;
}
