// Combined instructions against the plain ones: every program must print and log exactly the
// same whether the interpreter combines instruction sequences or runs them one by one. The
// programs put each combinable sequence (two locals, a local and a constant, the stack and
// a local or constant, into a push, a local, or a conditional jump; member reads and stores;
// element reads; method reads before a call; foreach; loops that jump back onto one) in front of operands of every
// kind, including those that leave the fast path: strings, null, tables with script operators (calls that return into
// the middle of a sequence), and ints that divide by zero.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "script/values/gmFunctionObject.h"
#include "script/values/gmTableObject.h"
#include "script/vm/gmExecCode.h"
#include "script/vm/gmMachine.h"

namespace {

std::string g_out;

// Tables print with their address, which differs between the two runs.
void CapturePrint(gmMachine*, const char* a_text) {
  std::string text = a_text;
  for (size_t at = text.find("table:0x"); at != std::string::npos; at = text.find("table:0x", at + 5)) {
    size_t end = at + 8;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
    text.erase(at + 5, end - at - 5);
  }
  g_out += text;
  g_out += "\n";
}

const char* const kValues[] = {"7", "0", "-1", "2147483647", "2.5", "-0.0", "\"ab\"", "null", "tbl()"};
// Literals that can stand as a constant operand.
const char* const kConstants[] = {"7", "0", "1", "-1", "2.5", "0.0", "\"ab\"", "null"};
const char* const kOperators[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!="};
const char* const kOperatorNames[] = {"add", "sub", "mul", "div", "mod", "lt", "gt", "lte", "gte", "eq", "neq"};

std::string Replace(std::string a_text, const std::string& a_what, const std::string& a_with) {
  for (size_t at = a_text.find(a_what); at != std::string::npos; at = a_text.find(a_what, at + a_with.size()))
    a_text.replace(at, a_what.size(), a_with);
  return a_text;
}

std::vector<std::string> Programs() {
  // A and B stand for operand texts, K for a constant, OP for the operator.
  static const char* const kBinary[] = {
      "local a = A; local b = B; local r = a OP b; print(r);",
      "local a = A; local b = B; print(a OP b);",
      "local a = A; local b = B; if (a OP b) { print(\"t\"); } else { print(\"f\"); }",
      "local a = A; local b = B; local n = 0; do { n += 1; if (n > 2) { break; } } while (a OP b); print(n);",
      "local b = B; print(id(A) OP b);",
      "local b = B; local r = id(A) OP b; print(r);",
      "local b = B; if (id(A) OP b) { print(\"t\"); } else { print(\"f\"); }",
      "local r = id(A) OP id(B); print(r);",
      "if (id(A) OP id(B)) { print(\"t\"); } else { print(\"f\"); }",
      "local a = A; local b = B; local o = {}; o.w = a OP b; print(o.w);",
      "local o = { v = A }; local b = B; o.w = o.v OP b; print(o.w);",
      "local o = { v = A, u = B }; o.w = o.v OP o.u; print(o.w);",
  };
  static const char* const kWithConstant[] = {
      "local a = A; print(a OP K);",
      "local a = A; local r = a OP K; print(r);",
      "local a = A; if (a OP K) { print(\"t\"); } else { print(\"f\"); }",
      "print(id(A) OP K);",
      "local r = id(A) OP K; print(r);",
      "if (id(A) OP K) { print(\"t\"); } else { print(\"f\"); }",
      "local o = { v = A }; o.w = o.v OP K; print(o.w);",
  };
  static const char* const kOthers[] = {
      "local t = A; print(t.x, t.y);",
      "local t = A; local k = B; print(t[k]);",
      "local k = B; print(id(A)[k]);",
      "local t = A; local v = B; t.x = v; print(t.x);",
      "local t = A; t.x = K; print(t.x);",
      "local v = B; local t = { x = v, y = K, z = 1, w = \"w\" }; print(t.x, t.y, t.z, t.w);",
      "local a = A; local b = a; local c = K; print(b, c);",
      "local a = A; local b = B; print(a, b);",
      "print(undefinedGlobal); undefinedFunction();",
      "global g = A; print(g.x, g.y);",
      "local t = A; t.x += B; print(t.x);",
      "local o = A; local a = 1; o.w = a + K; print(o.w);",
      "local t = { x = A, f = function() { return this.x + this.z; } }; print(t.f());",
      "local f = function() { return this.x; }; print(f());",
      "local n = 0; local i = A; while (i < K) { n += 1; if (n > 4) { break; } i += 1; } print(n, i);",
      "local t = A; local n = 0; foreach (k and v in t) { n += 1; print(k, v); } print(n);",
      "local n = 0; foreach (v in { 1, A, B, K }) { n += 1; if (v == B) { continue; } print(v); } print(n);",
      "local t = { x = A, f = function(v) { this.x = this.x + v; return this.x; } }; print(t.f(B), t.x);",
      "local o = A; print(o.f(B));",
      "local f = function(v) { return this.g(v); }; print(f(A));",
      "local t = { x = A }; t.x = B; t.x = K; t.x = A; print(t.x);",
  };
  std::vector<std::string> programs;
  for (const char* a : kValues) {
    for (const char* b : kValues) {
      for (size_t o = 0; o < sizeof(kOperators) / sizeof(*kOperators); ++o) {
        for (const char* text : kBinary)
          programs.push_back(Replace(Replace(Replace(text, "OP", kOperators[o]), "A", a), "B", b));
      }
    }
    for (const char* k : kConstants) {
      for (const char* op : kOperators) {
        for (const char* text : kWithConstant)
          programs.push_back(Replace(Replace(Replace(text, "OP", op), "A", a), "K", k));
      }
    }
  }
  for (const char* a : kValues) {
    for (const char* b : kValues) {
      for (const char* text : kOthers)
        programs.push_back(Replace(Replace(Replace(text, "A", a), "B", b), "K", kConstants[(a[0] + b[0]) % 8]));
    }
  }
  return programs;
}

// With a line hook set, every statement's line is reported, combined or not: the position of
// each report goes into the output.
bool RecordLine(gmThread* a_thread) {
  const gmFunctionObject* f = a_thread->GetFunctionObject();
  g_out += "@" + std::to_string(a_thread->GetInstruction() - f->execCode) + " ";
  return false;
}

struct Outcome {
  std::vector<std::string> results;  // per program: what it printed and logged
  bool combined = false;             // whether some working copy differs from its byte code
};

Outcome RunAll(bool a_combine, const std::vector<std::string>& a_programs, bool a_lineHook = false) {
  gmSetExecCombining(a_combine);
  Outcome outcome;
  gmPrintCallback saved = gmMachine::s_printCallback;
  gmMachine::s_printCallback = CapturePrint;
  {
    gmMachine machine;
    machine.debugMode = true;
    if (a_lineHook) machine.debugLine = RecordLine;
    // Tables get script operators, so sequences that meet one call out and come back into
    // their middle.
    std::string prelude =
        "global id = function(v) { return v; };"
        "global tbl = function() { return { x = 1, y = \"y\" }; };";
    for (const char* name : kOperatorNames)
      prelude += std::string("typeRegisterOperator(4, \"") + name + "\", function(a, b) { return \"" + name + "\"; });";
    EXPECT_EQ(0, machine.RunString(prelude.c_str()));
    bool first = true;
    while (machine.GetLog().GetEntry(first)) {}
    for (const std::string& program : a_programs) {
      g_out.clear();
      machine.RunString(program.c_str());
      while (const char* entry = machine.GetLog().GetEntry(first)) g_out += entry;
      outcome.results.push_back(g_out);
    }
    EXPECT_EQ(0, machine.RunString("global probe = function(a) { local b = a + 1; return b; }; probe(1);"));
    const gmFunctionObject* f = machine.GetGlobals()->GetByName(&machine, "probe").GetFunctionObject();
    outcome.combined =
        f->execCode && std::memcmp(f->execCode, f->byteCode, static_cast<size_t>(f->byteCodeLength)) != 0;
  }
  gmMachine::s_printCallback = saved;
  gmSetExecCombining(true);
  return outcome;
}

void ExpectSame(const std::vector<std::string>& a_programs, const Outcome& a_plain, const Outcome& a_combined) {
  EXPECT_FALSE(a_plain.combined);
  EXPECT_TRUE(a_combined.combined);
  ASSERT_EQ(a_plain.results.size(), a_combined.results.size());
  int mismatches = 0;
  for (size_t i = 0; i < a_programs.size() && mismatches < 10; ++i) {
    if (a_plain.results[i] != a_combined.results[i]) {
      ++mismatches;
      ADD_FAILURE() << a_programs[i] << "\nplain:    " << a_plain.results[i] << "\ncombined: " << a_combined.results[i];
    }
  }
}

TEST(ExecCode, CombinedSequencesBehaveAsThePlainInstructions) {
  const std::vector<std::string> programs = Programs();
  ExpectSame(programs, RunAll(false, programs), RunAll(true, programs));
}

TEST(ExecCode, LineHookSeesEveryLine) {
  const std::vector<std::string> programs = Programs();
  const Outcome combined = RunAll(true, programs, true);
  ExpectSame(programs, RunAll(false, programs, true), combined);
  EXPECT_NE(std::string::npos, combined.results[0].find('@'));
}

}  // namespace
