#ifndef GMDATACALL_H
#define GMDATACALL_H

// A check for texts that come from outside and are run only when they hold nothing but
// data: one call of a named function whose arguments are constants, a minus on a number,
// and table constructors of such (positional fields or fields named by an identifier). The
// parser decides, so the check and the compiler can never read a text differently.

class gmLog;

enum gmDataCallResult {
  GM_DATA_CALL = 0,       // the text is exactly that call
  GM_NOT_SCRIPT = 1,      // it does not parse; the parser's errors are in the log
  GM_MORE_THAN_DATA = 2,  // it parses, but as anything else (nothing is logged)
};

// a_callee is a name, or names joined by dots, as written in a_text. Uses the shared
// parser: not while another text is being compiled.
gmDataCallResult gmCheckDataCall(const char* a_text, const char* a_callee, gmLog* a_log);

#endif
