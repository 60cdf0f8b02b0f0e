#ifndef GMERRORHINTS_H
#define GMERRORHINTS_H

// What a run-time error adds after its fixed text so that it says which name failed: the
// name a failed call's callee was read under, and the one defined name close enough to a
// mistyped one to be what was meant. Everything here runs only on the failure path.

#include <string>

#include "script/values/gmVariable.h"

class gmMachine;
class gmFunctionObject;
class gmTableObject;

// Levenshtein distance of two texts, or a_limit + 1 when it is larger than a_limit.
int gmEditDistance(const char* a_a, const char* a_b, int a_limit);

// The string key of the given tables nearest to a_name within an edit distance of 2 (and
// less than the shorter name's length) whose value is not null, other than a_name itself;
// null when there is none. Equally near
// candidates go to the smallest text, so the same mistake always gets the same answer.
const char* gmClosestName(const char* a_name, const gmTableObject* const* a_tables, int a_count);

// How the callee of the call instruction at a_callOffset in a_function's byte code was
// read: a global, a member (of the `this` slot below the callee) or a member of `this`.
struct gmCalleeOrigin {
  enum Kind { UNKNOWN, GLOBAL, MEMBER, THIS_MEMBER, LOCAL } kind = UNKNOWN;
  const char* name = nullptr;
};
gmCalleeOrigin gmFindCalleeOrigin(const gmFunctionObject* a_function, int a_callOffset);

// " (TYPE 'NAME')" or " (TYPE 'NAME'), did you mean 'OTHER'?" for the callee of a failed
// call; a_object is the value the member was read from (the call's `this`), a_self the
// calling function's `this`.
std::string gmDescribeCallee(gmMachine* a_machine, const gmFunctionObject* a_caller, int a_callOffset,
                             const gmVariable& a_callee, const gmVariable& a_object, const gmVariable& a_self);

// ", did you mean 'OTHER'?" for a member name read from a value of that type, or "".
std::string gmSuggestMember(gmMachine* a_machine, const gmVariable& a_object, const char* a_name);

#endif
