#include "host/gDeveloperMenu.h"

#include <irrlicht.h>

#include <cstdio>
#include <cstring>

#include "binding/gConsole.h"
#include "input/_gInput.h"
#include "script/values/gmStringObject.h"
#include "script/values/gmTableObject.h"
#include "script/vm/gmMachine.h"

using namespace irr;

namespace {

// Script texts are bytes; the GUI shows wide characters. Each byte becomes the character of
// the same number, so any text (UTF-8 included) survives the trip to the GUI and back.
core::stringw Widen(const char* a_text, size_t a_length) {
  core::stringw wide;
  wide.reserve(static_cast<u32>(a_length + 1));
  for (size_t i = 0; i < a_length; ++i) wide.append(static_cast<wchar_t>(static_cast<unsigned char>(a_text[i])));
  return wide;
}
core::stringw Widen(const std::string& a_text) { return Widen(a_text.data(), a_text.size()); }

// Characters beyond one byte were not made by Widen: they read as '?'.
std::string Narrow(const wchar_t* a_text) {
  std::string narrow;
  for (const wchar_t* p = a_text; p && *p; ++p) narrow += (*p >= 0 && *p <= 255) ? static_cast<char>(*p) : '?';
  return narrow;
}

enum Section { SECTION_TABLE, SECTION_USER, SECTION_VAR, SECTION_FUNC, SECTION_COUNT };
const wchar_t* const kHeaders[SECTION_COUNT] = {L"=TABLE===", L"=USER===", L"=VAR===", L"=FUNC==="};

Section SectionOf(const gmVariable& a_value) {
  if (a_value.type == GM_TABLE) return SECTION_TABLE;
  if (a_value.type == GM_FUNCTION) return SECTION_FUNC;
  if (a_value.type >= GM_USER) return SECTION_USER;
  return SECTION_VAR;
}

}  // namespace

struct gDeveloperMenu::Column {
  gui::IGUIListBox* list = nullptr;
  gScriptTable table;
  std::vector<LineKey> keys;  // one per list line
  int first[SECTION_COUNT] = {};
  int end[SECTION_COUNT] = {};
  // The variable line printed last, so a refill that keeps the selection prints nothing.
  int printedLine = -1;
  std::string printedKey;
};

gDeveloperMenu::gDeveloperMenu() = default;

gDeveloperMenu::~gDeveloperMenu() = default;

void gDeveloperMenu::Setup(IrrlichtDevice* a_device, gmMachine* a_machine, _gInput* a_input, bool a_errorLine) {
  m_device = a_device;
  m_machine = a_machine;
  m_input = a_input;
  m_gui = a_device->getGUIEnvironment();
  const core::dimension2d<u32> screen = a_device->getVideoDriver()->getScreenSize();
  const s32 w = static_cast<s32>(screen.Width);
  const s32 h = static_cast<s32>(screen.Height);

  gui::IGUISkin* skin = m_gui->getSkin();
  skin->setColor(gui::EGDC_BUTTON_TEXT, video::SColor(0xFFFFFFFF));
  skin->setColor(gui::EGDC_WINDOW, video::SColor(0x80808080));
  skin->setColor(gui::EGDC_3D_SHADOW, video::SColor(0x80000000));
  skin->setColor(gui::EGDC_3D_FACE, video::SColor(0x80000000));
  // The edit box paints its editable area with these; the defaults are white, under white text.
  skin->setColor(gui::EGDC_EDITABLE, video::SColor(0xC0202020));
  skin->setColor(gui::EGDC_FOCUSED_EDITABLE, video::SColor(0xC0303050));
  skin->setColor(gui::EGDC_3D_HIGH_LIGHT, video::SColor(0x80202020));

  m_menuBar = m_gui->addMenu(nullptr, -1);
  const u32 top = m_menuBar->addItem(L"Ombrix Menu", -1, true, true);
  m_menuBar->getSubMenu(top)->addItem(L"Quit", kQuitCommand, true, false, false);

  m_scriptLine = m_gui->addEditBox(L"Type your script here", core::rect<s32>(0, h - 16, w, h), true);
  m_console = m_gui->addListBox(core::rect<s32>(0, 3 * h / 4, w, h - 16), nullptr, -1, true);

  m_columns.clear();
  m_columns.emplace_back(new Column());
  m_columns[0]->list = m_gui->addListBox(core::rect<s32>(0, h / 4, 0, 3 * h / 4), nullptr, -1, true);

  if (a_errorLine) {
    m_errorLine = m_gui->addStaticText(L"", core::rect<s32>(8, h - 40, w - 8, h - 20), false, false, nullptr, -1, true);
    m_errorLine->setOverrideColor(video::SColor(0xFFFFE060));
    m_errorLine->setBackgroundColor(video::SColor(0xB0400000));
    m_errorLine->setVisible(false);
  }
  Show(false);
}

void gDeveloperMenu::Show(bool a_open) {
  m_open = a_open;
  m_console->setVisible(a_open);
  m_scriptLine->setVisible(a_open);
  m_menuBar->setVisible(a_open);
  m_columns[0]->list->setVisible(a_open);
  if (!a_open) HideColumnsFrom(1);
  if (gui::ICursorControl* cursor = m_device->getCursorControl()) cursor->setVisible(a_open);
}

// Opening puts the keyboard on the script line: typing is what the menu is opened for.
void gDeveloperMenu::Toggle() {
  Show(!m_open);
  if (!m_open) return;
  RefillBrowser();
  m_gui->setFocus(m_scriptLine);
}

void gDeveloperMenu::OnKeyWhileOpen(const SEvent& a_event) {
  if (!m_hintShown || !a_event.KeyInput.PressedDown || m_gui->getFocus() != m_scriptLine) return;
  m_hintShown = false;
  m_scriptLine->setText(L"");
}

void gDeveloperMenu::OnGuiEvent(const SEvent& a_event) {
  const SEvent::SGUIEvent& event = a_event.GUIEvent;
  if (event.EventType == gui::EGET_EDITBOX_ENTER && event.Caller == m_scriptLine) {
    RunScriptLine();
  } else if (event.EventType == gui::EGET_MENU_ITEM_SELECTED && event.Caller &&
             (event.Caller->getType() == gui::EGUIET_CONTEXT_MENU || event.Caller->getType() == gui::EGUIET_MENU)) {
    gui::IGUIContextMenu* menu = static_cast<gui::IGUIContextMenu*>(event.Caller);
    const s32 item = menu->getSelectedItem();
    if (item >= 0 && menu->getItemCommandId(static_cast<u32>(item)) == kQuitCommand && m_input) m_input->running = 0;
  }
  m_stale = true;
}

void gDeveloperMenu::RunScriptLine() {
  if (!m_machine) return;
  const std::string text = Narrow(m_scriptLine->getText());
  m_machine->RunString(text.c_str());
}

void gDeveloperMenu::OnLogText(const char* a_text) { AddConsoleLine(a_text); }

void gDeveloperMenu::AddConsoleLine(const char* a_text) {
  if (!m_console || !a_text) return;
  m_console->addItem(Widen(a_text, std::char_traits<char>::length(a_text)).c_str());
  // Dropping lines one at a time moves every line behind them; dropping a quarter at once
  // keeps the cost per line constant.
  const u32 limit = kConsoleLines + kConsoleLines / 4;
  if (m_console->getItemCount() >= limit) {
    std::vector<core::stringw> kept;
    for (u32 i = m_console->getItemCount() - kConsoleLines; i < m_console->getItemCount(); ++i)
      kept.emplace_back(m_console->getListItem(i));
    m_console->clear();
    for (const core::stringw& line : kept) m_console->addItem(line.c_str());
  }
  m_console->setSelected(static_cast<s32>(m_console->getItemCount()) - 1);
}

// An error reaches the log as several entries: its message, then (each starting on a new
// line) the position "file(line) : source text", "callstack.." and the frames. The player
// sees "file(line) : message".
void gDeveloperMenu::OnLogEntry(const char* a_entry) {
  if (!m_errorLine || !a_entry) return;
  if (a_entry[0] == '\r' || a_entry[0] == '\n') {
    if (m_errorMessage.empty()) return;
    const std::string entry(a_entry + std::strspn(a_entry, "\r\n"));
    const size_t colon = entry.find(") : ");
    if (colon != std::string::npos && entry.find('(') < colon) {
      m_errorLine->setText(Widen(entry.substr(0, colon + 4) + m_errorMessage).c_str());
      m_errorMessage.clear();
    }
    return;
  }
  if (m_anyError && m_frame - m_errorShownAt < kErrorInterval) {
    m_errorMessage.clear();  // nor does this error's position replace the one on show
    return;
  }
  const size_t length = std::strcspn(a_entry, "\r\n");
  if (length == 0) return;
  m_errorMessage.assign(a_entry, length);
  m_errorLine->setText(Widen(m_errorMessage).c_str());
  m_errorLine->setVisible(true);
  m_errorShownAt = m_frame;
  m_errorShowing = true;
  m_anyError = true;
}

void gDeveloperMenu::AfterEvents() {
  ++m_frame;
  if (m_errorShowing && m_frame - m_errorShownAt >= kErrorFrames) {
    m_errorLine->setVisible(false);
    m_errorShowing = false;
  }
  if (m_stale && m_open) RefillBrowser();
  m_stale = false;
}

std::wstring gDeveloperMenu::ErrorLine() const {
  if (!m_errorLine || !m_errorShowing) return std::wstring();
  return m_errorLine->getText();
}

void gDeveloperMenu::ShowReloadProblem(const std::string& a_text) {
  if (!m_gui) return;
  if (!m_reloadLine) {
    if (a_text.empty()) return;
    const core::dimension2d<u32> screen = m_device->getVideoDriver()->getScreenSize();
    const s32 w = static_cast<s32>(screen.Width);
    const s32 h = static_cast<s32>(screen.Height);
    m_reloadLine =
        m_gui->addStaticText(L"", core::rect<s32>(8, h - 40, w - 8, h - 20), false, false, nullptr, -1, true);
    m_reloadLine->setOverrideColor(video::SColor(0xFFFFE060));
    m_reloadLine->setBackgroundColor(video::SColor(0xB0400000));
  }
  m_reloadLine->setText(Widen(a_text).c_str());
  m_reloadLine->setVisible(!a_text.empty());
}

std::wstring gDeveloperMenu::ReloadProblem() const {
  if (!m_reloadLine || !m_reloadLine->isVisible()) return std::wstring();
  return m_reloadLine->getText();
}

gui::IGUIListBox* gDeveloperMenu::BrowserColumn(int a_index) const {
  return a_index >= 0 && a_index < static_cast<int>(m_columns.size()) ? m_columns[a_index]->list : nullptr;
}

bool gDeveloperMenu::ColumnVisible(int a_index) const {
  gui::IGUIListBox* list = BrowserColumn(a_index);
  return list && list->isVisible();
}

void gDeveloperMenu::RefillBrowser() {
  if (!m_machine || m_columns.empty()) return;
  FillColumn(0, m_machine->GetGlobals(), 0);
}

void gDeveloperMenu::UseMachine(gmMachine* a_machine) {
  HideColumnsFrom(1);
  for (const std::unique_ptr<Column>& column : m_columns) {
    column->table.Release();
    column->keys.clear();
    column->list->clear();
  }
  m_machine = a_machine;
  if (m_machine && m_open) RefillBrowser();
}

void gDeveloperMenu::HideColumnsFrom(int a_index) {
  for (size_t i = static_cast<size_t>(a_index); i < m_columns.size(); ++i) {
    m_columns[i]->list->setVisible(false);
    m_columns[i]->table.Release();
    m_columns[i]->printedLine = -1;
  }
}

gmVariable gDeveloperMenu::Lookup(gmTableObject* a_table, const LineKey& a_key) const {
  switch (a_key.type) {
    case GM_STRING:
      return a_table->GetByName(m_machine, a_key.text.c_str());
    case GM_INT:
      return a_table->Get(gmVariable(static_cast<gmint>(a_key.intValue)));
    case GM_FLOAT:
      return a_table->Get(gmVariable(static_cast<gmfloat>(a_key.floatValue)));
    default:
      return gmVariable::Null();  // keys of other kinds are shown, not opened
  }
}

void gDeveloperMenu::FillColumn(int a_index, gmTableObject* a_table, int a_x) {
  Column& column = *m_columns[a_index];
  column.table.Set(m_machine, a_table);
  gui::IGUIListBox* list = column.list;
  const s32 selected = list->getSelected();
  list->clear();
  column.keys.clear();

  gui::IGUISkin* skin = m_gui->getSkin();
  gui::IGUIFont* font = skin->getFont();
  u32 longest = 0;
  char buffer[256];
  for (int section = 0; section < SECTION_COUNT; ++section) {
    list->addItem(kHeaders[section]);
    column.keys.emplace_back();
    column.first[section] = static_cast<int>(column.keys.size());
    gmint cursor = -2;
    while (const gmTableNode* node = a_table->Next(cursor)) {
      if (SectionOf(node->value) != section) continue;
      LineKey key;
      key.type = node->key.type;
      std::string text;
      switch (node->key.type) {
        case GM_STRING:
          key.text = text = node->key.GetStringObject()->text;
          break;
        case GM_INT:
          key.intValue = node->key.GetInt();
          std::snprintf(buffer, sizeof(buffer), "%d", key.intValue);
          text = buffer;
          break;
        case GM_FLOAT:
          key.floatValue = node->key.GetFloat();
          std::snprintf(buffer, sizeof(buffer), "%3.3f", static_cast<double>(key.floatValue));
          text = buffer;
          break;
        default:
          text = m_machine->ValueToText(node->key, buffer, sizeof(buffer));
          break;
      }
      const core::stringw line = Widen(text);
      list->addItem(line.c_str());
      if (font) longest = core::max_(longest, font->getDimension(line.c_str()).Width);
      column.keys.push_back(std::move(key));
    }
    column.end[section] = static_cast<int>(column.keys.size());
  }
  if (selected >= 0 && selected < static_cast<s32>(list->getItemCount())) list->setSelected(selected);

  const core::dimension2d<u32> screen = m_device->getVideoDriver()->getScreenSize();
  const s32 h = static_cast<s32>(screen.Height);
  const s32 width = static_cast<s32>(longest) + 2 * skin->getSize(gui::EGDS_SCROLLBAR_SIZE);
  list->setRelativePosition(core::rect<s32>(a_x, h / 4, a_x + width, 3 * h / 4));

  gmTableObject* child = nullptr;
  const int line = list->getSelected();
  if (line >= column.first[SECTION_TABLE] && line < column.end[SECTION_TABLE]) {
    const gmVariable value = Lookup(a_table, column.keys[line]);
    if (value.IsTable()) child = value.GetTableObject();
  }
  if (line >= column.first[SECTION_VAR] && line < column.end[SECTION_VAR]) {
    const LineKey& key = column.keys[line];
    const std::string identity = std::to_string(key.type) + ":" + std::to_string(key.intValue) + ":" +
                                 std::to_string(key.floatValue) + ":" + key.text;
    if (line != column.printedLine || identity != column.printedKey) {
      const gmVariable value = Lookup(a_table, key);
      switch (value.type) {
        case GM_STRING:
          gConsole::Line("%s", value.GetStringObject()->text);
          break;
        case GM_INT:
          gConsole::Line("%d", value.GetInt());
          break;
        case GM_FLOAT:
          gConsole::Line("%3.3f", static_cast<double>(value.GetFloat()));
          break;
        default:
          gConsole::Line("null");
          break;
      }
      column.printedLine = line;
      column.printedKey = identity;
    }
  } else {
    column.printedLine = -1;
  }

  if (!child) {
    HideColumnsFrom(a_index + 1);
    return;
  }
  if (a_index + 1 >= static_cast<int>(m_columns.size())) {
    m_columns.emplace_back(new Column());
    m_columns.back()->list =
        m_gui->addListBox(core::rect<s32>(a_x + width, h / 4, a_x + width, 3 * h / 4), nullptr, -1, true);
  }
  FillColumn(a_index + 1, child, a_x + width);
  m_columns[a_index + 1]->list->setVisible(true);
}
