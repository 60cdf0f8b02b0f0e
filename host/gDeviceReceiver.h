#pragma once
// The graphics device's event receiver. Standard output carries only the player's own
// lines and what scripts print (tools read "--checksum" output), so Irrlicht's log, which
// it would print there itself, is written to standard error instead. Every event,
// log text included, is first offered to the game's receiver when one is attached.
#include <IEventReceiver.h>

class gInputRecorder;

class gDeviceReceiver : public irr::IEventReceiver {
 public:
  // "--record": sees every key and mouse event first, F5 included.
  gInputRecorder* recorder = nullptr;
  irr::IEventReceiver* inner = nullptr;
  // Developer mode: F5 and Ctrl+R ask for a reload (reloadAsked) and the game never sees them:
  // nor their key-up, which comes to the new game, with Ctrl perhaps let go first; nor the
  // presses the keyboard repeats while the key is held, which would reload again and again.
  bool reloadKeys = false;
  bool reloadAsked = false;

  bool OnEvent(const irr::SEvent& event) override;

 private:
  bool m_reloadKeyHeld[2] = {false, false};  // F5, R
};
