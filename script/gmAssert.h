#ifndef GMASSERT_H
#define GMASSERT_H

// The project's assert, for internal invariants only (misuse by a native caller gets a safe
// return and a warning; a script error ends only its thread). GM_ASSERT(condition, text)
// checks in builds without NDEBUG, or with GM_ASSERTS defined, and costs nothing otherwise.
// A failed check calls the hook: the default one writes file, line, condition and text to
// standard error and aborts. Tests install one that records or throws, so an invariant can
// be shown to hold, and to be checked.

typedef void (*gmAssertHook)(const char* a_file, int a_line, const char* a_condition, const char* a_text);

// Installs a_hook (null restores the default); returns the previous one.
gmAssertHook gmSetAssertHook(gmAssertHook a_hook);

// Calls the installed hook. When the hook returns, so does this: the caller goes on.
void gmAssertFailed(const char* a_file, int a_line, const char* a_condition, const char* a_text);

#if !defined(NDEBUG) || defined(GM_ASSERTS)
#define GM_ASSERT(condition, text) \
  ((condition) ? static_cast<void>(0) : gmAssertFailed(__FILE__, __LINE__, #condition, text))
#else
#define GM_ASSERT(condition, text) static_cast<void>(0)
#endif

#endif
