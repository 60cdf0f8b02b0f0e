#include "script/vm/gmMachine.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <new>

#include "script/lib/gmCoreLib.h"

namespace {

// Shells per chunk of each object class.
const size_t kStringShellsPerChunk = 128;
const size_t kTableShellsPerChunk = 32;
const size_t kFunctionShellsPerChunk = 32;
const size_t kUserShellsPerChunk = 32;
const size_t kFrameShellsPerChunk = 128;

const char* const kBuiltinTypeNames[] = {"null", "int", "float", "string", "table", "function"};

// h = h * 33 + b over the bytes taken as signed, wrapping; *a_end receives the NUL.
inline gmuint HashText(const char* a_text, const char** a_end) {
  gmuint h = 0;
  const char* p = a_text;
  for (; *p; ++p) h = h * 33u + static_cast<gmuint>(static_cast<int>(static_cast<signed char>(*p)));
  *a_end = p;
  return h;
}

// The first eight bytes of a text of a_length bytes as a big-endian number, zero-padded.
inline uint64_t TextHead(const char* a_text, int a_length) {
  uint64_t head = 0;
  int n = a_length < 8 ? a_length : 8;
  for (int i = 0; i < n; ++i) head |= static_cast<uint64_t>(static_cast<unsigned char>(a_text[i])) << (56 - 8 * i);
  return head;
}

inline uint64_t LoadBigEndian64(const char* a_bytes) {
  uint64_t w;
  std::memcpy(&w, a_bytes, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  w = __builtin_bswap64(w);
#endif
  return w;
}

// Byte-wise order of a chain member against the text looked up (its head and length
// already known), with strcmp's sign. Texts hold no NUL before their end, so comparing up
// to the shorter one's NUL is the NUL-terminated comparison.
inline int CompareInterned(const gmStringObject* a_string, uint64_t a_head, const char* a_text, int a_length) {
  if (a_string->head != a_head) return a_string->head < a_head ? -1 : 1;
  // Equal heads with a text shorter than eight bytes hold its NUL at the same place: the
  // same text.
  if (a_string->length < 8) return 0;
  int shorter = a_string->length < a_length ? a_string->length : a_length;
  const char* p = a_string->text + 8;
  const char* q = a_text + 8;
  int left = shorter + 1 - 8;  // the NUL of the shorter one decides a prefix
  for (; left >= 8; left -= 8, p += 8, q += 8) {
    uint64_t a = LoadBigEndian64(p);
    uint64_t b = LoadBigEndian64(q);
    if (a != b) return a < b ? -1 : 1;
  }
  for (; left > 0; --left, ++p, ++q) {
    if (*p != *q) return static_cast<unsigned char>(*p) < static_cast<unsigned char>(*q) ? -1 : 1;
  }
  return 0;
}

}  // namespace

gmMachine::gmMachine()
    : m_stringShells(sizeof(gmStringObject), kStringShellsPerChunk),
      m_tableShells(sizeof(gmTableObject), kTableShellsPerChunk),
      m_functionShells(sizeof(gmFunctionObject), kFunctionShellsPerChunk),
      m_userShells(sizeof(gmUserObject), kUserShellsPerChunk),
      m_frameShells(sizeof(gmStackFrame), kFrameShellsPerChunk) {
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
  // Every string goes, in no particular order: a string must not unlink through a neighbour
  // already destroyed, so the chains are dropped first.
  for (gmStringObject*& chain : m_strings) {
    for (gmStringObject* s = chain; s; s = s->chainNext) s->chainPrev = nullptr;
    chain = nullptr;
  }
  // Every object goes, whatever its colour; the storage chains go with the members.
  m_gc.DestructAll(this);
  m_types.clear();
  m_global = nullptr;
}

// ---- Object creation ------------------------------------------------------------------

template <class T>
T* gmMachine::NewObject(gmMemFixed& a_shells, int a_bytes) {
  T* obj = new (a_shells.Alloc()) T();
  m_gc.MarkNew(obj);
  m_objectBytes += a_bytes;
  return obj;
}

gmStringObject* gmMachine::FindString(const char* a_text) const {
  const char* end;
  gmuint h = HashText(a_text, &end);
  int length = static_cast<int>(end - a_text);
  uint64_t head = TextHead(a_text, length);
  for (gmStringObject* s = m_strings[h & (STRING_CHAINS - 1)]; s; s = s->chainNext) {
    int c = CompareInterned(s, head, a_text, length);
    if (c == 0) return s;
    if (c > 0) break;  // chains ascend: the text would have been here
  }
  return nullptr;
}

gmStringObject* gmMachine::MakeString(const char* a_text, int) {
  // The length argument only ever sized the copy; measuring while hashing costs nothing and
  // keeps a wrong length from over-reading the source or leaving the copy unterminated.
  if (!a_text) a_text = "";
  const char* end;
  gmuint h = HashText(a_text, &end);
  int length = static_cast<int>(end - a_text);
  uint64_t head = TextHead(a_text, length);

  gmStringObject** link = &m_strings[h & (STRING_CHAINS - 1)];
  for (gmStringObject* s = *link; s; link = &s->chainNext, s = s->chainNext) {
    int c = CompareInterned(s, head, a_text, length);
    if (c == 0) {
      // An ongoing collection may already consider it garbage.
      if (!s->persist) m_gc.Revive(s);
      return s;
    }
    if (c > 0) break;
  }

  char* text = static_cast<char*>(Alloc(static_cast<size_t>(length) + 1));
  std::memcpy(text, a_text, static_cast<size_t>(length) + 1);
  gmStringObject* s = NewObject<gmStringObject>(m_stringShells, GM_STRING_OBJECT_BYTES);
  s->text = text;
  s->length = length;
  s->hash = h;
  s->head = head;
  s->chainNext = *link;
  s->chainPrev = link;
  if (s->chainNext) s->chainNext->chainPrev = &s->chainNext;
  *link = s;
  return s;
}

gmStringObject* gmMachine::MakePermanentString(const char* a_text) {
  gmStringObject* s = MakeString(a_text);
  m_gc.MakePersistent(s);
  return s;
}

gmTableObject* gmMachine::MakeTable() { return NewObject<gmTableObject>(m_tableShells, GM_TABLE_OBJECT_BYTES); }

gmFunctionObject* gmMachine::MakeNativeFunction(gmNativeFunction a_function, gmptr a_userValue) {
  gmFunctionObject* f = NewObject<gmFunctionObject>(m_functionShells, GM_FUNCTION_OBJECT_BYTES);
  f->nativeFunction = a_function;
  f->userValue = a_userValue;
  return f;
}

gmFunctionObject* gmMachine::MakeScriptFunction() {
  return NewObject<gmFunctionObject>(m_functionShells, GM_FUNCTION_OBJECT_BYTES);
}

gmUserObject* gmMachine::MakeUserObject(void* a_user, int a_type) {
  gmUserObject* u = NewObject<gmUserObject>(m_userShells, GM_USER_OBJECT_BYTES);
  u->userType = a_type;
  u->user = a_user;
  return u;
}

// ---- Object destruction ---------------------------------------------------------------
// The collector has already taken the object out of its lists.

void gmMachine::DestroyString(gmStringObject* a_string) {
  if (a_string->chainPrev) {
    *a_string->chainPrev = a_string->chainNext;
    if (a_string->chainNext) a_string->chainNext->chainPrev = a_string->chainPrev;
  }
  Free(a_string->text);
  m_objectBytes -= GM_STRING_OBJECT_BYTES;
  a_string->~gmStringObject();
  m_stringShells.Free(a_string);
}

void gmMachine::DestroyTable(gmTableObject* a_table) {
  Free(a_table->nodes);
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
    if (gmGCDestructCallback destruct = m_types[a_user->userType].destruct) destruct(this, a_user);
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

bool gmMachine::SetTypeCallbacks(int a_type, gmGCTraceCallback a_trace, gmGCDestructCallback a_destruct, gmAsStringCallback a_asString) {
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
