#pragma once
// What input needs of the developer menu: whether it is open (input then records nothing
// and calls no script), the Escape toggle in developer mode, and the events it consumes.
namespace irr {
struct SEvent;
}

class inpDeveloperMenu {
 public:
  virtual ~inpDeveloperMenu() = default;
  virtual bool IsOpen() const = 0;
  virtual void Toggle() = 0;
  virtual void OnGuiEvent(const irr::SEvent& a_event) = 0;
  // A key event while the menu is open, before the menu's own elements see it.
  virtual void OnKeyWhileOpen(const irr::SEvent&) {}
  virtual void OnLogText(const char* a_text) = 0;
};
