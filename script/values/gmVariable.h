#ifndef GMVARIABLE_H
#define GMVARIABLE_H

// The script value: a type id and a payload. Everything scripts and natives exchange is one
// of these, copied by value.

#include <cstddef>
#include <cstdint>
#include <cstring>

typedef int32_t gmint;
typedef uint32_t gmuint;
typedef float gmfloat;
typedef intptr_t gmptr;
typedef uintptr_t gmuptr;
typedef uint8_t gmuint8;
typedef uint64_t gmuint64;

class gmObject;
class gmStringObject;
class gmTableObject;
class gmFunctionObject;
class gmUserObject;
class gmMachine;
class gmThread;

// Built-in type ids. Ids above GM_FLOAT refer to heap objects; user types are handed out
// densely from GM_USER on, in order of definition.
enum gmType {
  GM_NULL = 0,
  GM_INT = 1,
  GM_FLOAT = 2,
  GM_STRING = 3,
  GM_TABLE = 4,
  GM_FUNCTION = 5,
  GM_USER = 6,  // the first user type: the machine defines it as "gmState"
};

// The borrowed C text type the machine extension defines; string concatenation reads the
// text its native pointer points to.
const int GM_CSTRING = 11;

// Payload representation on a 64-bit host. The language defines a 32-bit payload, which
// cannot hold an object reference here, so the payload is a 64-bit word holding either a
// 32-bit int or float (in its low half, upper half kept zero by every setter) or a full
// object pointer, and a value is 16 bytes instead of 8. Every rule that reads the payload
// goes through the helpers below so the 32-bit semantics stay exact: ints and floats are
// 32-bit and compared, hashed and tested by their low 32 bits only (so a stray upper half
// can never make two equal ints differ); a reference is tested for non-null, compared by
// identity and hashed as its address shifted right by two, truncated to 32 bits. Stack and
// other limits stay counted in slots, whatever a slot's byte size.
struct gmVariable {
  gmint type;
  // Not part of the value: the four bytes between type and payload, which copies leave alone.
  // A table node keeps its chain link in its key's (gmTableObject).
  gmint link;
  union {
    gmint i;
    gmfloat f;
    gmObject* ref;
    gmuint64 bits;
  } value;

  gmVariable() = default;
  // Copies move the two fields separately: values are mostly written field by field (a type,
  // then a payload), and a single 16-byte load of such a value stalls on store forwarding,
  // which made a table store four times slower than a lookup.
  gmVariable(const gmVariable& a_other) : type(a_other.type) { value.bits = a_other.value.bits; }
  gmVariable& operator=(const gmVariable& a_other) {
    type = a_other.type;
    value.bits = a_other.value.bits;
    return *this;
  }
  explicit gmVariable(gmint a_int) : type(GM_INT) { SetIntPayload(a_int); }
  explicit gmVariable(gmfloat a_float) : type(GM_FLOAT) { SetFloatPayload(a_float); }
  gmVariable(gmint a_type, gmObject* a_ref) : type(a_type) { value.ref = a_ref; }
  explicit gmVariable(gmStringObject* a_string);
  explicit gmVariable(gmTableObject* a_table);
  explicit gmVariable(gmFunctionObject* a_function);
  // Takes the user object's own type id.
  explicit gmVariable(gmUserObject* a_user);

  static gmVariable Null() {
    gmVariable v;
    v.SetNull();
    return v;
  }

  void SetNull() {
    type = GM_NULL;
    value.bits = 0;
  }
  void SetInt(gmint a_int) {
    type = GM_INT;
    SetIntPayload(a_int);
  }
  void SetFloat(gmfloat a_float) {
    type = GM_FLOAT;
    SetFloatPayload(a_float);
  }
  void SetRef(gmint a_type, gmObject* a_ref) {
    type = a_type;
    value.ref = a_ref;
  }
  void SetString(gmStringObject* a_string);
  void SetTable(gmTableObject* a_table);
  void SetFunction(gmFunctionObject* a_function);
  void SetUser(gmUserObject* a_user);

  // Write the payload alone, keeping the type (the int operators' rule).
  void SetIntPayload(gmint a_int) { value.bits = static_cast<gmuint>(a_int); }
  // One 8-byte store: a zeroing store followed by a 4-byte float store would make the next
  // whole-payload load (every copy of the value) wait for both to retire.
  void SetFloatPayload(gmfloat a_float) {
    gmuint bits;
    std::memcpy(&bits, &a_float, sizeof(bits));
    value.bits = bits;
  }

  bool IsNull() const { return type == GM_NULL; }
  bool IsInt() const { return type == GM_INT; }
  bool IsFloat() const { return type == GM_FLOAT; }
  bool IsString() const { return type == GM_STRING; }
  bool IsTable() const { return type == GM_TABLE; }
  bool IsFunction() const { return type == GM_FUNCTION; }
  bool IsReference() const { return type > GM_FLOAT; }

  gmint GetInt() const { return value.i; }
  gmfloat GetFloat() const { return value.f; }
  gmObject* GetObject() const { return value.ref; }
  // Unchecked: the caller has tested the type.
  gmStringObject* GetStringObject() const;
  gmTableObject* GetTableObject() const;
  gmFunctionObject* GetFunctionObject() const;
  gmUserObject* GetUserObject() const;

  // The low 32 bits of an immediate's payload; the meaning of "payload" for ids 0 to 2.
  gmuint Payload32() const { return static_cast<gmuint>(value.bits); }

  // The truth test: false exactly when the payload is zero, whatever the type (so float
  // -0.0 and every reference are true).
  bool IsTrue() const { return IsReference() ? value.ref != nullptr : Payload32() != 0; }

  // Identity: same type and same payload. Used for table keys, eq/neq of references and
  // signal/block keys; 1 and 1.0, 0.0 and -0.0 are different.
  bool Same(const gmVariable& a_other) const {
    if (type != a_other.type) return false;
    return IsReference() ? value.ref == a_other.value.ref : Payload32() == a_other.Payload32();
  }

  // Table key hash: the payload for ids 0 to 2, the reference shifted right by two otherwise.
  gmuint KeyHash() const {
    return IsReference() ? static_cast<gmuint>(reinterpret_cast<gmuptr>(value.ref) >> 2) : Payload32();
  }
};

static_assert(sizeof(gmVariable) == 16 || sizeof(void*) == 4, "a script value is a type id and a pointer-wide payload");

#if defined(__BYTE_ORDER__) && (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
#error "the payload layout above keeps ints and floats in the low half of the word: little-endian hosts only"
#endif

#endif
