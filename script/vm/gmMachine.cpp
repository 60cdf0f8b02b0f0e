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

// Byte-wise order of an interned text against another (with strcmp's sign) when both hold at
// least a key's bytes and agree on those. Texts hold no NUL before their end, so comparing up
// to the shorter one's NUL is the NUL-terminated comparison.
inline int CompareTails(const gmStringObject* a_string, const char* a_text, int a_length) {
  int shorter = a_string->length < a_length ? a_string->length : a_length;
  const char* p = a_string->text + gmStringKey::BYTES;
  const char* q = a_text + gmStringKey::BYTES;
  int left = shorter + 1 - gmStringKey::BYTES;  // the NUL of the shorter one decides a prefix
  for (; left >= 8; left -= 8, p += 8, q += 8) {
    uint64_t a = gmLoadBigEndian64(p);
    uint64_t b = gmLoadBigEndian64(q);
    if (a != b) return a < b ? -1 : 1;
  }
  for (; left > 0; --left, ++p, ++q) {
    if (*p != *q) return static_cast<unsigned char>(*p) < static_cast<unsigned char>(*q) ? -1 : 1;
  }
  return 0;
}

// The place of a text in a chain: the index of the first string not below it, and whether
// that string is the text itself. The keys settle the order except among strings whose key
// equals the text's; only those are read.
template <class Chain>
inline int SeekText(const Chain& a_chain, const gmStringKey& a_key, const char* a_text, int a_length, bool* a_found) {
  const gmStringKey* keys = a_chain.keys;
  int at = 0;
  if (a_chain.count > 0) {
    // Lower bound by halving: a probe reads a few keys of the block rather than every key up
    // to the text's place.
    const gmStringKey* base = keys;
    int n = a_chain.count;
    while (n > 1) {
      int half = n / 2;
      base = gmStringKeyBelow(base[half - 1], a_key) ? base + half : base;
      n -= half;
    }
    at = static_cast<int>(base - keys) + (gmStringKeyBelow(*base, a_key) ? 1 : 0);
  }
  *a_found = false;
  gmStringObject* const* strings = a_chain.Strings();
  for (; at < a_chain.count && gmStringKeyEqual(keys[at], a_key); ++at) {
    // A key with the NUL inside it is the whole text; a string of the same key has its NUL
    // at the same place.
    int c = a_length < gmStringKey::BYTES ? 0 : CompareTails(strings[at], a_text, a_length);
    if (c >= 0) {
      *a_found = c == 0;
      break;
    }
  }
  return at;
}

}  // namespace

gmMachine::gmMachine()
    : m_stringShells(kStringShellBytes, kStringShellsPerChunk),
      m_tableShells(sizeof(gmTableObject), kTableShellsPerChunk),
      m_functionShells(sizeof(gmFunctionObject), kFunctionShellsPerChunk),
      m_userShells(sizeof(gmUserObject), kUserShellsPerChunk),
      m_frameShells(sizeof(gmStackFrame), kFrameShellsPerChunk) {
  m_strings = new StringChain[STRING_CHAINS];
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
  // Every string goes, so the chains are emptied at once rather than one string at a time.
  // They stay usable: a destruct callback run below may still make a string.
  for (int i = 0; i < STRING_CHAINS; ++i) ResizeChain(m_strings[i], 0);
  m_stringsDropped = true;
  // Every object goes, whatever its colour; the storage chains go with the members.
  m_gc.DestructAll(this);
  m_types.clear();
  m_global = nullptr;
  for (int i = 0; i < STRING_CHAINS; ++i) ResizeChain(m_strings[i], 0);
  delete[] m_strings;
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

void gmMachine::ResizeChain(StringChain& a_chain, int a_capacity) {
  StringChain grown;
  if (a_capacity > 0) {
    GM_ASSERT(a_capacity >= a_chain.count, "a string chain never shrinks below its strings");
    grown.keys = static_cast<gmStringKey*>(
        ::operator new(static_cast<size_t>(a_capacity) * (sizeof(gmStringKey) + sizeof(gmStringObject*))));
    grown.capacity = a_capacity;
    grown.count = a_chain.count;
    if (a_chain.count > 0) {
      std::memcpy(grown.keys, a_chain.keys, sizeof(gmStringKey) * static_cast<size_t>(a_chain.count));
      std::memcpy(grown.Strings(), a_chain.Strings(), sizeof(gmStringObject*) * static_cast<size_t>(a_chain.count));
    }
  }
  ::operator delete(a_chain.keys);
  a_chain = grown;
}

gmStringObject* gmMachine::FindString(const char* a_text) const {
  int length = static_cast<int>(std::strlen(a_text));
  gmuint h = gmStringHash(a_text, static_cast<size_t>(length));
  const StringChain& chain = m_strings[h & (STRING_CHAINS - 1)];
  bool found;
  int at = SeekText(chain, gmStringKeyOf(a_text, length), a_text, length, &found);
  return found ? chain.Strings()[at] : nullptr;
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
  int length = a_length;
  gmuint h = a_hash;
  gmStringKey key = gmStringKeyOf(a_text, length);

  StringChain& chain = m_strings[h & (STRING_CHAINS - 1)];
  bool found;
  int at = SeekText(chain, key, a_text, length, &found);
  if (found) {
    gmStringObject* s = chain.Strings()[at];
    // An ongoing collection may already consider it garbage.
    if (!s->persist) m_gc.Revive(s);
    return s;
  }

  char* text = static_cast<char*>(Alloc(static_cast<size_t>(length) + 1));
  std::memcpy(text, a_text, static_cast<size_t>(length) + 1);
  gmStringObject* s = NewObject<gmStringObject>(m_stringShells, GM_STRING_OBJECT_BYTES);
  s->text = text;
  s->length = length;
  s->hash = h;
  if (chain.count == chain.capacity) ResizeChain(chain, chain.capacity ? chain.capacity * 2 : 4);
  gmStringObject** strings = chain.Strings();
  size_t after = static_cast<size_t>(chain.count - at);
  std::memmove(chain.keys + at + 1, chain.keys + at, sizeof(gmStringKey) * after);
  std::memmove(strings + at + 1, strings + at, sizeof(gmStringObject*) * after);
  chain.keys[at] = key;
  strings[at] = s;
  ++chain.count;
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
  StringChain& chain = m_strings[a_string->hash & (STRING_CHAINS - 1)];
  bool found = false;
  int at = 0;
  if (chain.count > 0) {
    at = SeekText(chain, gmStringKeyOf(a_string->text, a_string->length), a_string->text, a_string->length, &found);
  }
  // Once teardown has emptied the chains, only strings made after that are in them.
  GM_ASSERT((found && chain.Strings()[at] == a_string) || m_stringsDropped, "every live string is in its chain");
  if (found && chain.Strings()[at] == a_string) {
    gmStringObject** strings = chain.Strings();
    size_t after = static_cast<size_t>(chain.count - at - 1);
    std::memmove(chain.keys + at, chain.keys + at + 1, sizeof(gmStringKey) * after);
    std::memmove(strings + at, strings + at + 1, sizeof(gmStringObject*) * after);
    --chain.count;
    // A chain that held many strings before a collection gives the room back gradually.
    if (chain.count == 0) {
      ResizeChain(chain, 0);
    } else if (chain.capacity > 4 && chain.count <= chain.capacity / 4) {
      ResizeChain(chain, chain.capacity / 2);
    }
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
