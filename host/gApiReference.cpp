#include "host/gApiReference.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "binding/gScriptConstants.h"
#include "binding/gmMachineEx.h"
#include "binding/gVersion.h"
#include "script/values/gmUserObject.h"

namespace {

// The functions the host calls back, by the registration that names them. Handlers are
// found by name when the event comes, so the registry cannot know their arguments: this
// table is the one place that says what each receives, and must follow the natives that
// push them (input, physics, clock, network, scene).
struct gCallback {
  const char* registeredBy;  // an entry of the listing, as it is spelt there
  const char* called;
};
const gCallback kCallbacks[] = {
    {"Input.ScriptButton", "function()"},
    {"Input.ScriptMouse", "function(float dx, float dy, float x, float y)"},
    {"_Wiimote.ScriptConnect", "function()"},
    {"_Wiimote.ScriptButton", "function()"},
    {"_Wiimote.ScriptCamera", "function(Vector3 pointer)"},
    {"_Wiimote.ScriptStick", "function(Vector3 stick)"},
    {"_Wiimote.ScriptNunchuckAcceleration", "function(Vector3 acceleration)"},
    {"_ScePhysics.RayCast", "function(table object, Vector3 point, Vector3 normal)"},
    {"_ObjPhysics.ScriptCollision", "function(table self, table other)"},
    {"Clock.AddTimer", "function(table state)"},
    {"Network.SubmitScore", "function(int rank)"},
    {"Network.GetScore", "function(table rows)"},
    {"object.Script", "function(table object)"},
};

struct Entry {
  std::string kind;  // constructor, method, operator, function, member, callback, constant, global
  std::string owner;
  std::string name;
  std::vector<std::string> params;
  std::string result;
  std::string signature;  // the entry as the Markdown form spells it
};

struct Section {
  int level;
  std::string title;
  std::vector<Entry> entries;
};

std::string Join(const std::vector<std::string>& a_parts) {
  std::string text;
  for (size_t i = 0; i < a_parts.size(); ++i) text += (i ? ", " : "") + a_parts[i];
  return text;
}

// Splits a native's parameter text ("format, ...") into its parts.
std::vector<std::string> SplitParams(const std::string& a_text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start < a_text.size()) {
    size_t comma = a_text.find(',', start);
    if (comma == std::string::npos) comma = a_text.size();
    std::string part = a_text.substr(start, comma - start);
    part.erase(0, part.find_first_not_of(' '));
    if (!part.empty()) parts.push_back(part);
    start = comma + 1;
  }
  return parts;
}

class Lister {
 public:
  explicit Lister(gmMachineEx* a_machine) : m_machine(a_machine) {}

  std::vector<Section> sections;

  void Build() {
    FindModules();
    ListTypes(true);
    ListTypes(false);
    ListNatives();
    ListPrelude();
    ListCallbacks();
    ListConstants();
    ListOtherGlobals();
  }

  bool CheckCallbacks(std::string& a_error) const {
    for (const gCallback& callback : kCallbacks) {
      if (!m_callable.count(callback.registeredBy)) {
        a_error = std::string("the callback table names ") + callback.registeredBy + ", which is not registered";
        return false;
      }
    }
    return true;
  }

 private:
  // Script names of proxy types, as authors read them: c_string is any text, type 7 the
  // handles the modules make (meshes, textures, texts, sounds).
  std::string TypeText(int a_type) const {
    if (a_type == GM_CSTRING || a_type == GM_CSTRING_CONST) return "text";
    if (a_type == GM_UNKNOWN_TYPE) return "handle";
    if (a_type >= GM_FIRST_CLASS_TYPE && a_type % 2 == 0) --a_type;
    return m_machine->TypeName(a_type);
  }

  std::string Owner(int a_type) const {
    auto it = m_moduleGlobal.find(a_type);
    return it != m_moduleGlobal.end() ? it->second : m_machine->TypeName(a_type);
  }

  Entry FromProxy(const gmProxy& a_proxy, const std::string& a_kind, const std::string& a_owner,
                  const std::string& a_name) const {
    Entry entry;
    entry.kind = a_kind;
    entry.owner = a_owner;
    entry.name = a_name;
    for (int i = 0; i < a_proxy.numParams; ++i) entry.params.push_back(TypeText(a_proxy.paramTypes[i]));
    if (a_proxy.resultType != GM_NULL) entry.result = TypeText(a_proxy.resultType);
    const std::string arrow = entry.result.empty() ? "" : " -> " + entry.result;
    if (a_kind == "constructor") {
      entry.signature = a_name + "(" + Join(entry.params) + ")" + arrow;
    } else if (a_kind == "operator") {
      entry.signature =
          entry.params.empty() ? a_name + a_owner + arrow : a_owner + " " + a_name + " " + entry.params[0] + arrow;
    } else {
      entry.signature = a_owner + "." + a_name + "(" + Join(entry.params) + ")" + arrow;
    }
    return entry;
  }

  void Add(Section& a_section, const Entry& a_entry) {
    a_section.entries.push_back(a_entry);
    m_callable.insert(a_entry.owner.empty() ? a_entry.name : a_entry.owner + "." + a_entry.name);
  }

  // A module is a global holding a native object of a registered class.
  void FindModules() {
    gmint cursor = -2;
    while (const gmTableNode* node = m_machine->GetGlobals()->Next(cursor)) {
      if (node->key.type != GM_STRING || node->value.type < GM_FIRST_CLASS_TYPE) continue;
      m_moduleGlobal[node->value.type] = node->key.GetStringObject()->GetString();
    }
  }

  void ListTypes(bool a_modules) {
    sections.push_back({2, a_modules ? "Modules" : "Types", {}});
    for (int type = GM_FIRST_CLASS_TYPE; type < m_machine->GetNumTypes(); type += 2) {
      if (m_moduleGlobal.count(type) != a_modules) continue;
      const gmMachineEx::TypeRecord* record = m_machine->FindRecord(type);
      if (!record) continue;
      const std::string owner = Owner(type);
      Section section{3, a_modules ? owner + " (" + m_machine->TypeName(type) + ")" : owner, {}};
      m_known.insert(m_machine->TypeName(type));
      for (const gmProxy* proxy : m_machine->ConstructorsOf(type))
        Add(section, FromProxy(*proxy, "constructor", "", m_machine->TypeName(type)));
      for (size_t index = 0; index < record->methodNames.size(); ++index) {
        auto range = record->methods.equal_range(static_cast<int>(index));
        for (auto it = range.first; it != range.second; ++it) {
          const gmProxy& proxy = *it->second;
          const bool isOperator = proxy.GetKind() == gmProxy::KIND_OPERATOR;
          Add(section, FromProxy(proxy, isOperator ? "operator" : "method", owner,
                                 isOperator ? proxy.name : record->methodNames[index]));
        }
      }
      sections.push_back(section);
    }
  }

  void ListNatives() {
    Section globals{2, "Global functions", {}};
    Section methods{2, "Methods of numbers", {}};
    for (const gmMachine::NativeRecord& native : m_machine->GetNativeRecords()) {
      Entry entry;
      entry.kind = "function";
      entry.name = native.name;
      entry.params = SplitParams(native.params);
      if (native.type != GM_NULL)
        entry.owner = m_machine->TypeName(native.type);
      else if (!native.table.empty())
        entry.owner = native.table;
      entry.signature = (entry.owner.empty() ? "" : entry.owner + ".") + native.name + "(" + native.params + ")";
      if (entry.owner.empty()) m_known.insert(native.name);
      Add(native.type != GM_NULL ? methods : globals, entry);
    }
    sections.push_back(globals);
    sections.push_back(methods);
  }

  // The prelude's members are read from a scene and an object made by it: what a game's
  // NewScene and NewObject give is what is listed.
  void ListPrelude() {
    sections.push_back({2, "Prelude", {}});
    Section functions{3, "Prelude functions", {}};
    for (const auto& global : SortedTable(m_machine->GetGlobals())) {
      if (global.second.type != GM_FUNCTION || global.second.GetFunctionObject()->IsNative()) continue;
      Add(functions, ScriptFunction("", global.first, global.second.GetFunctionObject()));
      m_known.insert(global.first);
    }
    sections.push_back(functions);
    m_machine->RunString("NewScene(\"scene\");");
    ListMembers("scene", "A scene table");
    m_machine->RunString("global object = scene.NewObject(\"object\");");
    ListMembers("object", "An object table");
    m_machine->GetGlobals()->SetByName(m_machine, "scene", gmVariable::Null());
    m_machine->GetGlobals()->SetByName(m_machine, "object", gmVariable::Null());
  }

  void ListMembers(const char* a_global, const char* a_title) {
    Section section{3, a_title, {}};
    gmVariable table = m_machine->GetGlobals()->GetByName(m_machine, a_global);
    if (table.IsTable()) {
      for (const auto& member : SortedTable(table.GetTableObject())) {
        if (member.second.type == GM_FUNCTION) {
          Add(section, ScriptFunction(a_global, member.first, member.second.GetFunctionObject()));
        } else if (member.second.type != GM_TABLE) {
          Entry entry{"member", a_global, member.first, {}, TypeText(member.second.type), ""};
          entry.signature = std::string(a_global) + "." + member.first + ": " + entry.result;
          Add(section, entry);
        }
      }
    }
    sections.push_back(section);
  }

  Entry ScriptFunction(const std::string& a_owner, const std::string& a_name,
                       const gmFunctionObject* a_function) const {
    Entry entry;
    entry.kind = "function";
    entry.owner = a_owner;
    entry.name = a_name;
    for (int i = 0; i < a_function->numParams; ++i) {
      const gmFunctionDebugInfo* debug = a_function->debugInfo;
      const char* symbol = (debug && i < debug->numSymbols) ? debug->symbols[i] : nullptr;
      entry.params.push_back(symbol ? symbol : "arg" + std::to_string(i));
    }
    entry.signature = (a_owner.empty() ? "" : a_owner + ".") + a_name + "(" + Join(entry.params) + ")";
    return entry;
  }

  void ListCallbacks() {
    Section section{2, "Callbacks", {}};
    for (const gCallback& callback : kCallbacks) {
      Entry entry;
      entry.kind = "callback";
      entry.name = callback.registeredBy;
      const std::string called = callback.called;
      const size_t open = called.find('(');
      entry.params = SplitParams(called.substr(open + 1, called.size() - open - 2));
      entry.signature = std::string(callback.registeredBy) + ": " + called;
      section.entries.push_back(entry);
    }
    sections.push_back(section);
  }

  void ListConstants() {
    Section section{2, "Constants", {}};
    for (const gScriptConstant& constant : gScriptConstants) {
      const gmVariable value = m_machine->GetGlobals()->GetByName(m_machine, constant.name);
      Entry entry{"constant", "", constant.name, {}, std::to_string(value.IsInt() ? value.GetInt() : 0), ""};
      entry.signature = std::string(constant.name) + " = " + entry.result;
      m_known.insert(constant.name);
      section.entries.push_back(entry);
    }
    sections.push_back(section);
  }

  // Whatever else the machine holds as a global, so that nothing registered goes unlisted.
  void ListOtherGlobals() {
    Section section{2, "Other globals", {}};
    for (const auto& global : SortedTable(m_machine->GetGlobals())) {
      if (m_known.count(global.first) || m_moduleGlobal.count(global.second.type)) continue;
      Entry entry{"global", "", global.first, {}, TypeText(global.second.type), ""};
      entry.signature = global.first + ": " + entry.result;
      section.entries.push_back(entry);
    }
    sections.push_back(section);
  }

  std::vector<std::pair<std::string, gmVariable>> SortedTable(gmTableObject* a_table) const {
    std::vector<std::pair<std::string, gmVariable>> members;
    gmint cursor = -2;
    while (const gmTableNode* node = a_table->Next(cursor)) {
      if (node->key.type == GM_STRING) members.emplace_back(node->key.GetStringObject()->GetString(), node->value);
    }
    std::sort(members.begin(), members.end(),
              [](const auto& a_left, const auto& a_right) { return a_left.first < a_right.first; });
    return members;
  }

  gmMachineEx* m_machine;
  std::map<int, std::string> m_moduleGlobal;  // writable type id to its module's global
  std::set<std::string> m_known;              // globals listed in some section
  std::set<std::string> m_callable;           // "Owner.Name" of every listed function
};

std::string Markdown(const std::vector<Section>& a_sections) {
  std::string text = std::string("# Ombrix script API ") + ombrix::kEngineVersion + "\n";
  for (const Section& section : a_sections) {
    text += "\n" + std::string(static_cast<size_t>(section.level), '#') + " " + section.title + "\n";
    if (!section.entries.empty()) text += "\n";
    for (const Entry& entry : section.entries) text += "- `" + entry.signature + "`\n";
  }
  return text;
}

std::string Quote(const std::string& a_text) {
  std::string quoted = "\"";
  for (char c : a_text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string Json(const std::vector<Section>& a_sections) {
  std::string text = std::string("{\"version\": ") + Quote(ombrix::kEngineVersion) + ", \"sections\": [";
  for (size_t s = 0; s < a_sections.size(); ++s) {
    const Section& section = a_sections[s];
    text += std::string(s ? "," : "") + "\n {\"level\": " + std::to_string(section.level) +
            ", \"title\": " + Quote(section.title) + ", \"entries\": [";
    for (size_t e = 0; e < section.entries.size(); ++e) {
      const Entry& entry = section.entries[e];
      text += std::string(e ? "," : "") + "\n  {\"kind\": " + Quote(entry.kind) + ", \"owner\": " + Quote(entry.owner) +
              ", \"name\": " + Quote(entry.name) + ", \"params\": [";
      for (size_t p = 0; p < entry.params.size(); ++p) text += (p ? ", " : "") + Quote(entry.params[p]);
      text += "], \"result\": " + Quote(entry.result) + ", \"signature\": " + Quote(entry.signature) + "}";
    }
    text += "]}";
  }
  return text + "\n]}\n";
}

}  // namespace

bool gApiReference(gmMachineEx* a_machine, bool a_json, std::string& a_text, std::string& a_error) {
  Lister lister(a_machine);
  lister.Build();
  if (!lister.CheckCallbacks(a_error)) return false;
  a_text = a_json ? Json(lister.sections) : Markdown(lister.sections);
  return true;
}
