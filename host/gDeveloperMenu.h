#pragma once
// The developer overlay: a menu bar with Quit, the console that collects every console line
// (script print output, machine log entries, the components' messages, the 3D engine's
// log), a script line run on Enter, and a column browser over the global table. It exists
// in every run; only developer mode shows it, with Escape. Outside developer mode it shows,
// for a few seconds, the newest script error in a small line at the bottom of the window,
// so a player sees that something went wrong.
//
// GUI events only mark the browser stale; it is refilled after the device's event pass
// (AfterEvents), never inside the list box's own handler, which the refill rebuilds.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "input/inpDeveloperMenu.h"
#include "scene/gScriptTable.h"
#include "script/values/gmVariable.h"

namespace irr {
class IrrlichtDevice;
namespace gui {
class IGUIContextMenu;
class IGUIEditBox;
class IGUIEnvironment;
class IGUIListBox;
class IGUIStaticText;
}  // namespace gui
}  // namespace irr
class gmMachine;
class _gInput;

class gDeveloperMenu : public inpDeveloperMenu {
 public:
  // Newest lines the console keeps; older ones are dropped from its top.
  static constexpr int kConsoleLines = 1000;
  // The error line shows for this many frames, and a new error replaces it at most once per
  // kErrorInterval frames (one second).
  static constexpr unsigned kErrorFrames = 120;
  static constexpr unsigned kErrorInterval = 30;
  static constexpr int kQuitCommand = 100;

  gDeveloperMenu();
  ~gDeveloperMenu() override;
  gDeveloperMenu(const gDeveloperMenu&) = delete;
  gDeveloperMenu& operator=(const gDeveloperMenu&) = delete;

  // Builds the overlay, closed. a_errorLine: show the newest script error outside developer
  // mode (never with the null driver, where nothing is seen).
  void Setup(irr::IrrlichtDevice* a_device, gmMachine* a_machine, _gInput* a_input, bool a_errorLine);

  // A reload's new machine (null between the old one's end and the new one's start): the
  // browser lets go of the old machine's tables and shows the new globals when it is open.
  void UseMachine(gmMachine* a_machine);

  bool IsOpen() const override { return m_open; }
  void Toggle() override;
  void OnGuiEvent(const irr::SEvent& a_event) override;
  // The script line's hint text goes at the first key typed into it.
  void OnKeyWhileOpen(const irr::SEvent& a_event) override;
  void OnLogText(const char* a_text) override;

  // A console line: appended, selected and scrolled into view.
  void AddConsoleLine(const char* a_text);
  // A machine log entry as the frame's log step sees it: its lines go to the console, and its
  // first line is the error a player is shown.
  void OnLogEntry(const char* a_entry);
  // Once per frame after the device's event pass: refills a stale browser and ages the
  // error line.
  void AfterEvents();

  // For tests and the benchmark.
  irr::gui::IGUIListBox* Console() const { return m_console; }
  irr::gui::IGUIEditBox* ScriptLine() const { return m_scriptLine; }
  irr::gui::IGUIContextMenu* MenuBar() const { return m_menuBar; }
  // Column 0 is the root; a column exists once it was first needed.
  irr::gui::IGUIListBox* BrowserColumn(int a_index) const;
  bool ColumnVisible(int a_index) const;
  // The error line's text, empty when none shows.
  std::wstring ErrorLine() const;
  // A reload that was refused: its first problem shows where the error line does, until a
  // reload succeeds (ShowReloadProblem with an empty text), so the author sees it in the
  // window without opening the console.
  void ShowReloadProblem(const std::string& a_text);
  std::wstring ReloadProblem() const;
  void RefillBrowser();

 private:
  // A line's key as the table holds it: the browser looks the selection up by its real key,
  // so t[1] opens t[1] and not t["1"]. String keys are kept as text and found again by name,
  // since the key's string may be collected while the browser shows it.
  struct LineKey {
    int type = 0;  // GM_NULL for a header line
    int intValue = 0;
    float floatValue = 0.0f;
    std::string text;
  };
  struct Column;

  void Show(bool a_open);
  void RunScriptLine();
  void FillColumn(int a_index, gmTableObject* a_table, int a_x);
  void HideColumnsFrom(int a_index);
  gmVariable Lookup(gmTableObject* a_table, const LineKey& a_key) const;

  irr::IrrlichtDevice* m_device = nullptr;
  irr::gui::IGUIEnvironment* m_gui = nullptr;
  gmMachine* m_machine = nullptr;
  _gInput* m_input = nullptr;
  bool m_open = false;
  bool m_stale = false;
  bool m_hintShown = true;  // the script line still holds its hint text
  irr::gui::IGUIContextMenu* m_menuBar = nullptr;
  irr::gui::IGUIEditBox* m_scriptLine = nullptr;
  irr::gui::IGUIListBox* m_console = nullptr;
  std::vector<std::unique_ptr<Column>> m_columns;

  irr::gui::IGUIStaticText* m_errorLine = nullptr;
  irr::gui::IGUIStaticText* m_reloadLine = nullptr;
  unsigned m_frame = 0;
  unsigned m_errorShownAt = 0;
  bool m_errorShowing = false;
  bool m_anyError = false;
  // The message of the error on show, until its position entry arrives.
  std::string m_errorMessage;
};
