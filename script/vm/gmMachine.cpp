#include "script/vm/gmMachine.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "script/gmAssert.h"
#include "script/lib/gmCoreLib.h"

namespace {

// Shells per chunk of each object class.
const size_t kStringShellsPerChunk = 128;
const size_t kTableShellsPerChunk = 32;
const size_t kFunctionShellsPerChunk = 32;
const size_t kUserShellsPerChunk = 32;
const size_t kFrameShellsPerChunk = 128;

// Tables hash a string key by its address shifted right by two, so the distance between string
// shells decides how string keys spread over a table's main nodes. A distance whose quarter is
// a multiple of four (48 bytes, the object's own size) leaves three main nodes in four to
// collisions; 56, like the 72 bytes strings took before, leaves every other node, which no
// 8-aligned distance avoids.
const size_t kStringShellBytes = 56;
static_assert(sizeof(gmStringObject) <= kStringShellBytes, "a string object must fit its shell");
static_assert(kStringShellBytes % alignof(gmStringObject) == 0, "shells must keep string objects aligned");
static_assert(kStringShellBytes / 4 % 4 == 2, "string keys would crowd fewer main nodes of a table");

const char* const kBuiltinTypeNames[] = {"null", "int", "float", "string", "table", "function"};

}  // namespace

gmMachine::gmMachine()
    : m_stringShells(kStringShellBytes, kStringShellsPerChunk),
      m_tableShells(sizeof(gmTableObject), kTableShellsPerChunk),
      m_functionShells(sizeof(gmFunctionObject), kFunctionShellsPerChunk),
      m_userShells(sizeof(gmUserObject), kUserShellsPerChunk),
      m_frameShells(sizeof(gmStackFrame), kFrameShellsPerChunk) {
  ResizeStrings(MIN_STRING_SLOTS);
  bool gc = EnableGC(false);
  for (const char* name : kBuiltinTypeNames) DefineBuiltinType(name);
  gmInitBuiltinTypeOperators(this);
  // Id 6: the thread-state record's type; its callbacks come with the thread states.
  DefineType("gmState");
  m_global = MakeTable();
  m_gc.threadRootCallback = gmBlockHash::MarkRoots;
  gmBindCoreLib(this);
  EnableGC(gc);
}

gmMachine::~gmMachine() {
  DestroyThreads();
  // Every string goes, so the table is emptied at once rather than one string at a time.
  // It stays usable: a destruct callback run below may still make a string.
  DropStrings();
  m_stringsDropped = true;
  // Every object goes, whatever its colour; the storage chains go with the members.
  m_gc.DestructAll(this);
  m_types.clear();
  m_global = nullptr;
  gmSystemFree(m_strings, sizeof(StringSlot) * static_cast<size_t>(m_stringSlots));
}

// ---- Object creation ------------------------------------------------------------------

void gmMachine::OutOfMemory() { throw gmOutOfMemory(); }

// The collector stress build collects where an allocation starts: for a string that is
// before its chain is searched, whose places a collection would move.
#ifdef GM_GC_STRESS
#define GM_STRESS_COLLECT() StressCollect()
#else
#define GM_STRESS_COLLECT() static_cast<void>(0)
#endif

template <class T>
T* gmMachine::NewObject(gmMemFixed& a_shells, int a_bytes) {
  if (nestedRuns > 0 && GetCurrentMemoryUsage() + a_bytes > memoryCap) OutOfMemory();
  T* obj = new (a_shells.Alloc()) T();
  m_gc.MarkNew(obj);
  m_objectBytes += a_bytes;
  return obj;
}

void gmMachine::ResizeStrings(int a_slots) {
  StringSlot* old = m_strings;
  int oldSlots = m_stringSlots;
  m_strings = static_cast<StringSlot*>(gmSystemAlloc(sizeof(StringSlot) * static_cast<size_t>(a_slots)));
  std::memset(static_cast<void*>(m_strings), 0, sizeof(StringSlot) * static_cast<size_t>(a_slots));
  m_stringSlots = a_slots;
  m_stringShift = 32;
  for (int n = a_slots; n > 1; n >>= 1) --m_stringShift;
  const int mask = a_slots - 1;
  for (int i = 0; i < oldSlots; ++i) {
    if (!old[i].string) continue;
    int at = HomeSlot(old[i].hash);
    while (m_strings[at].string) at = (at + 1) & mask;
    m_strings[at] = old[i];
  }
  gmSystemFree(old, sizeof(StringSlot) * static_cast<size_t>(oldSlots));
}

void gmMachine::DropStrings() {
  std::memset(static_cast<void*>(m_strings), 0, sizeof(StringSlot) * static_cast<size_t>(m_stringSlots));
  m_stringCount = 0;
}

int gmMachine::SeekString(const char* a_text, int a_length, gmuint a_hash) const {
  const int mask = m_stringSlots - 1;
  for (int at = HomeSlot(a_hash);; at = (at + 1) & mask) {
    const StringSlot& slot = m_strings[at];
    if (!slot.string) return at;
    if (slot.hash == a_hash && slot.length == a_length &&
        std::memcmp(slot.string->text, a_text, static_cast<size_t>(a_length)) == 0)
      return at;
  }
}

gmStringObject* gmMachine::FindString(const char* a_text) const {
  int length = static_cast<int>(std::strlen(a_text));
  gmuint h = gmStringHash(a_text, static_cast<size_t>(length));
  return m_strings[SeekString(a_text, length, h)].string;
}

gmStringObject* gmMachine::MakeString(const char* a_text, int) {
  // The length argument only ever sized the copy; measuring the text keeps a wrong length
  // from over-reading the source or leaving the copy unterminated.
  if (!a_text) a_text = "";
  size_t length = std::strlen(a_text);
  return MakeStringHashed(a_text, static_cast<int>(length), gmStringHash(a_text, length));
}

gmStringObject* gmMachine::MakeStringHashed(const char* a_text, int a_length, gmuint a_hash) {
  GM_ASSERT(a_length == static_cast<int>(std::strlen(a_text)), "the length given is the text's");
  GM_ASSERT(a_hash == gmStringHash(a_text, static_cast<size_t>(a_length)), "the hash given is the text's");
  GM_STRESS_COLLECT();
  if (gmStringObject* s = m_strings[SeekString(a_text, a_length, a_hash)].string) {
    // An ongoing collection may already consider it garbage.
    if (!s->persist) m_gc.Revive(s);
    return s;
  }

  // Both allocations may fail the run; the table changes only once they are made.
  char* text = static_cast<char*>(Alloc(static_cast<size_t>(a_length) + 1));
  std::memcpy(text, a_text, static_cast<size_t>(a_length) + 1);
  gmStringObject* s = NewObject<gmStringObject>(m_stringShells, GM_STRING_OBJECT_BYTES);
  s->text = text;
  s->length = a_length;
  s->hash = a_hash;
  if (2 * (m_stringCount + 1) > m_stringSlots) ResizeStrings(m_stringSlots * 2);
  m_strings[SeekString(a_text, a_length, a_hash)] = {a_hash, a_length, s};
  ++m_stringCount;
  return s;
}

gmStringObject* gmMachine::MakePermanentString(const char* a_text) {
  gmStringObject* s = MakeString(a_text);
  m_gc.MakePersistent(s);
  return s;
}

gmTableObject* gmMachine::MakeTable() {
  GM_STRESS_COLLECT();
  return NewObject<gmTableObject>(m_tableShells, GM_TABLE_OBJECT_BYTES);
}

gmFunctionObject* gmMachine::MakeNativeFunction(gmNativeFunction a_function, gmptr a_userValue) {
  GM_STRESS_COLLECT();
  gmFunctionObject* f = NewObject<gmFunctionObject>(m_functionShells, GM_FUNCTION_OBJECT_BYTES);
  f->nativeFunction = a_function;
  f->userValue = a_userValue;
  return f;
}

gmFunctionObject* gmMachine::MakeScriptFunction() {
  GM_STRESS_COLLECT();
  return NewObject<gmFunctionObject>(m_functionShells, GM_FUNCTION_OBJECT_BYTES);
}

gmUserObject* gmMachine::MakeUserObject(void* a_user, int a_type) {
  GM_STRESS_COLLECT();
  gmUserObject* u = NewObject<gmUserObject>(m_userShells, GM_USER_OBJECT_BYTES);
  u->userType = a_type;
  u->user = a_user;
  return u;
}

// ---- Object destruction ---------------------------------------------------------------
// The collector has already taken the object out of its lists.

void gmMachine::DestroyString(gmStringObject* a_string) {
  const int mask = m_stringSlots - 1;
  int at = HomeSlot(a_string->hash);
  while (m_strings[at].string && m_strings[at].string != a_string) at = (at + 1) & mask;
  // Once teardown has emptied the table, only strings made after that are in it.
  GM_ASSERT(m_strings[at].string == a_string || m_stringsDropped, "every live string is in the table");
  if (m_strings[at].string == a_string) {
    // Close the gap: a later slot of the same run moves back into it unless its own home lies
    // cyclically in (gap, slot], where a probe for it would stop short of the gap.
    int gap = at;
    for (int next = (gap + 1) & mask; m_strings[next].string; next = (next + 1) & mask) {
      int home = HomeSlot(m_strings[next].hash);
      if (((next - home) & mask) >= ((next - gap) & mask)) {
        m_strings[gap] = m_strings[next];
        gap = next;
      }
    }
    m_strings[gap].string = nullptr;
    --m_stringCount;
    // A table that held many strings before a collection gives the room back gradually.
    if (m_stringSlots > MIN_STRING_SLOTS && 8 * m_stringCount < m_stringSlots) ResizeStrings(m_stringSlots / 2);
  }
  Free(a_string->text);
  m_objectBytes -= GM_STRING_OBJECT_BYTES;
  a_string->~gmStringObject();
  m_stringShells.Free(a_string);
}

void gmMachine::DestroyTable(gmTableObject* a_table) {
  Free(a_table->Storage());
  m_objectBytes -= GM_TABLE_OBJECT_BYTES;
  a_table->~gmTableObject();
  m_tableShells.Free(a_table);
}

void gmMachine::DestroyFunction(gmFunctionObject* a_function) {
  a_function->FreeBuffers(this);
  m_objectBytes -= GM_FUNCTION_OBJECT_BYTES;
  a_function->~gmFunctionObject();
  m_functionShells.Free(a_function);
}

void gmMachine::DestroyUserObject(gmUserObject* a_user) {
  if (IsValidType(a_user->userType)) {
    if (gmGCDestructCallback destruct = m_types[a_user->userType].destruct) {
      m_gc.BeforeNativeDestruct();
      destruct(this, a_user);
    }
  }
  m_objectBytes -= GM_USER_OBJECT_BYTES;
  a_user->~gmUserObject();
  m_userShells.Free(a_user);
}

// ---- Text -------------------------------------------------------------------------------

const char* gmMachine::ValueToText(const gmVariable& a_value, char* a_buffer, int a_bufferSize) {
  switch (a_value.type) {
    case GM_NULL:
      return "null";
    case GM_INT:
      if (!a_buffer || a_bufferSize <= 0) return "";
      std::snprintf(a_buffer, static_cast<size_t>(a_bufferSize), "%d", a_value.GetInt());
      return a_buffer;
    case GM_FLOAT:
      if (!a_buffer || a_bufferSize <= 0) return "";
      std::snprintf(a_buffer, static_cast<size_t>(a_bufferSize), "%g", static_cast<double>(a_value.GetFloat()));
      return a_buffer;
    case GM_STRING:
      return a_value.GetStringObject()->text;
    default:
      break;
  }
  if (!a_buffer || a_bufferSize <= 0) return "";
  if (a_value.type > GM_FUNCTION && IsValidType(a_value.type) && m_types[a_value.type].asString) {
    a_buffer[0] = '\0';
    m_types[a_value.type].asString(a_value.GetUserObject(), a_buffer, a_bufferSize);
    a_buffer[a_bufferSize - 1] = '\0';
    return a_buffer;
  }
  // The identity printed is the full object address.
  std::snprintf(a_buffer, static_cast<size_t>(a_bufferSize), "%s:0x%llx", TypeName(a_value.type),
                static_cast<unsigned long long>(reinterpret_cast<gmuptr>(a_value.GetObject())));
  return a_buffer;
}

// ---- Type registry ----------------------------------------------------------------------

void gmMachine::DefineBuiltinType(const char* a_name) {
  m_types.emplace_back();
  m_types.back().name = MakePermanentString(a_name);
  m_types.back().variables = MakeTable();
}

int gmMachine::DefineType(const char* a_name) {
  bool gc = EnableGC(false);
  int id = static_cast<int>(m_types.size());
  DefineBuiltinType(a_name);
  gmInitUserTypeOperators(this, id);
  EnableGC(gc);
  return id;
}

bool gmMachine::SetTypeOperator(int a_type, int a_operator, gmFunctionObject* a_function, gmOperatorFunction a_native) {
  if (!IsValidType(a_type) || a_operator < 0 || a_operator >= O_MAXOPERATORS) return false;
  if (a_function)
    m_types[a_type].operators[a_operator] = a_function;
  else
    m_types[a_type].nativeOperators[a_operator] = a_native;
  return true;
}

bool gmMachine::SetTypeVariable(int a_type, const gmVariable& a_name, const gmVariable& a_value) {
  if (!IsValidType(a_type)) return false;
  m_types[a_type].variables->Set(this, a_name, a_value);
  return true;
}

bool gmMachine::SetTypeVariable(int a_type, const char* a_name, const gmVariable& a_value) {
  if (!IsValidType(a_type) || !a_name) return false;
  m_types[a_type].variables->SetByName(this, a_name, a_value);
  return true;
}

gmVariable gmMachine::GetTypeVariable(int a_type, const gmVariable& a_name) const {
  if (!IsValidType(a_type)) return gmVariable::Null();
  return m_types[a_type].variables->Get(a_name);
}

bool gmMachine::SetTypeCallbacks(int a_type, gmGCTraceCallback a_trace, gmGCDestructCallback a_destruct,
                                 gmAsStringCallback a_asString) {
  if (!IsValidType(a_type)) return false;
  m_types[a_type].trace = a_trace;
  m_types[a_type].destruct = a_destruct;
  m_types[a_type].asString = a_asString;
  return true;
}

const char* gmMachine::TypeName(int a_type) const {
  if (!IsValidType(a_type)) return "undefined";
  return m_types[a_type].name->text;
}
