// The code generator from source text: byte code listings of small programs, the error
// messages, and the debug-mode tables.

#include <gtest/gtest.h>

#include <string>

#include "script/compiler/gmCodeGen.h"
#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"
#include "tests/script_codegen/gmTestHooks.h"

namespace {

class CodeGen : public ::testing::Test {
 protected:
  // Parses and compiles; returns the code generator's error count. A parse failure fails
  // the test: these programs are all meant to parse.
  int Compile(const char* text, bool debug = false) {
    gmCodeTree& parser = gmCodeTree::Get();
    int parsed = parser.Parse(text, &log);
    EXPECT_EQ(parsed, gmCodeTree::PARSE_OK) << text << "\n" << Log();
    int errors = parsed == gmCodeTree::PARSE_OK ? gmCodeGen::Get().Compile(parser.GetRoot(), &hooks, debug, &log) : -1;
    parser.Reset();
    gmCodeGen::Get().Reset();
    return errors;
  }
  std::string Main() const {
    const gmRecordedFunction* m = hooks.Main();
    return m ? m->listing : std::string("(no __main)");
  }
  // Nested functions are handed over innermost first, in the order their bodies end.
  std::string Nested(size_t i) const {
    return i + 1 < hooks.functions.size() ? hooks.functions[i].listing : std::string("(none)");
  }
  std::string Log() {
    std::string all;
    bool first = true;
    while (const char* e = log.GetEntry(first)) all += e;
    return all;
  }

  gmMachine machine;
  gmLog log;
  gmTestHooks hooks{machine};
};

struct ListingCase {
  const char* name;
  const char* source;
  const char* mainListing;
};

// Each program's "__main" listing, compiled without debug mode.
const ListingCase kListings[] = {
    {"FoldedSumToLocal", "x = 1 + 2;",
     "function __main params 0 locals 1 stack 1\n"
     "0000 pushint 3\n"
     "0008 setlocal 0\n"
     "0016 return\n"},
    {"GlobalDeclarationStoresGlobal", "global x = 1; x = x + 0.5;",
     "function __main params 0 locals 0 stack 2\n"
     "0000 pushint1\n"
     "0004 setglobal x\n"
     "0012 getglobal x\n"
     "0020 pushfloat 0.5\n"
     "0028 add\n"
     "0032 setglobal x\n"
     "0040 return\n"},
    {"ExpressionStatementIsPopped", "print(\"hi\\n\");",
     "function __main params 0 locals 0 stack 3\n"
     "0000 pushnull\n"
     "0004 getglobal print\n"
     "0012 pushstring \"hi\\n\"\n"
     "0020 call 1\n"
     "0028 pop\n"
     "0032 return\n"},
    {"ColonDotAndPlainCalls", "a:b(1); a.b(1); b(); this.c();",
     "function __main params 0 locals 0 stack 3\n"
     "0000 getglobal a\n"
     "0008 getglobal b\n"
     "0016 pushint1\n"
     "0020 call 1\n"
     "0028 pop\n"
     "0032 getglobal a\n"
     "0040 dup\n"
     "0044 getdot b\n"
     "0052 pushint1\n"
     "0056 call 1\n"
     "0064 pop\n"
     "0068 pushnull\n"
     "0072 getglobal b\n"
     "0080 call 0\n"
     "0088 pop\n"
     "0092 pushthis\n"
     "0096 dup\n"
     "0100 getdot c\n"
     "0108 call 0\n"
     "0116 pop\n"
     "0120 return\n"},
    {"NamedFieldThenPositional", "t = {x = 1, 5};",
     "function __main params 0 locals 1 stack 4\n"
     "0000 pushtable\n"
     "0004 dup\n"
     "0008 pushint1\n"
     "0012 setdot x\n"
     "0020 dup\n"
     "0024 pushint 0\n"
     "0032 pushint 5\n"
     "0040 setind\n"
     "0044 setlocal 0\n"
     "0052 return\n"},
    {"PositionsCountPositionalFieldsOnly", "t = {5, x = 1, 6};",
     "function __main params 0 locals 1 stack 4\n"
     "0000 pushtable\n"
     "0004 dup\n"
     "0008 pushint 0\n"
     "0016 pushint 5\n"
     "0024 setind\n"
     "0028 dup\n"
     "0032 pushint1\n"
     "0036 setdot x\n"
     "0044 dup\n"
     "0048 pushint 1\n"
     "0056 pushint 6\n"
     "0064 setind\n"
     "0068 setlocal 0\n"
     "0076 return\n"},
    {"CompoundAssignmentEvaluatesTargetTwice", "a[f()] += 2;",
     "function __main params 0 locals 0 stack 5\n"
     "0000 getglobal a\n"
     "0008 pushnull\n"
     "0012 getglobal f\n"
     "0020 call 0\n"
     "0028 getglobal a\n"
     "0036 pushnull\n"
     "0040 getglobal f\n"
     "0048 call 0\n"
     "0056 getind\n"
     "0060 pushint 2\n"
     "0068 add\n"
     "0072 setind\n"
     "0076 return\n"},
    {"AndOrKeepTheDecidingValue", "x = a and b or c;",
     "function __main params 0 locals 1 stack 1\n"
     "0000 getglobal a\n"
     "0008 jumpzerokeep 0028\n"
     "0016 pop\n"
     "0020 getglobal b\n"
     "0028 jumpnotzerokeep 0048\n"
     "0036 pop\n"
     "0040 getglobal c\n"
     "0048 setlocal 0\n"
     "0056 return\n"},
    {"IfElseIf", "if (a) { x = 1; } else if (b) { x = 2; } else { x = 0; }",
     "function __main params 0 locals 1 stack 1\n"
     "0000 getglobal a\n"
     "0008 jumpzero 0036\n"
     "0016 pushint1\n"
     "0020 setlocal 0\n"
     "0028 jump 0088\n"
     "0036 getglobal b\n"
     "0044 jumpzero 0076\n"
     "0052 pushint 2\n"
     "0060 setlocal 0\n"
     "0068 jump 0088\n"
     "0076 pushint0\n"
     "0080 setlocal 0\n"
     "0088 return\n"},
    {"WhileWithBreakAndContinue", "while (a) { if (b) { break; } continue; }",
     "function __main params 0 locals 0 stack 1\n"
     "0000 getglobal a\n"
     "0008 jumpzero 0056\n"
     "0016 getglobal b\n"
     "0024 jumpzero 0040\n"
     "0032 jump 0056\n"
     "0040 jump 0000\n"
     "0048 jump 0000\n"
     "0056 return\n"},
    {"ForContinueGoesToStep", "for (i = 0; i < 3; i += 1) { continue; }",
     "function __main params 0 locals 1 stack 2\n"
     "0000 pushint0\n"
     "0004 setlocal 0\n"
     "0012 getlocal 0\n"
     "0020 pushint 3\n"
     "0028 lt\n"
     "0032 jumpzero 0080\n"
     "0040 jump 0048\n"
     "0048 getlocal 0\n"
     "0056 pushint1\n"
     "0060 add\n"
     "0064 setlocal 0\n"
     "0072 jump 0012\n"
     "0080 return\n"},
    {"DoWhileBodyFirst", "dowhile (a) { break; }",
     "function __main params 0 locals 0 stack 1\n"
     "0000 jump 0024\n"
     "0008 getglobal a\n"
     "0016 jumpnotzero 0000\n"
     "0024 return\n"},
    {"ForeachLoopsShareHiddenKey",
     "foreach (v in t) { break; } foreach (k and w in t) { } foreach (w in t) { continue; }",
     "function __main params 0 locals 4 stack 3\n"
     "0000 getglobal t\n"
     "0008 pushint -2\n"
     "0016 foreach 0 1\n"
     "0024 jumpzero 0048\n"
     "0032 jump 0048\n"
     "0040 jump 0016\n"
     "0048 pop2\n"
     "0052 getglobal t\n"
     "0060 pushint -2\n"
     "0068 foreach 2 3\n"
     "0076 jumpzero 0092\n"
     "0084 jump 0068\n"
     "0092 pop2\n"
     "0096 getglobal t\n"
     "0104 pushint -2\n"
     "0112 foreach 0 3\n"
     "0120 jumpzero 0144\n"
     "0128 jump 0112\n"
     "0136 jump 0112\n"
     "0144 pop2\n"
     "0148 return\n"},
};

class Listings : public CodeGen, public ::testing::WithParamInterface<ListingCase> {};

TEST_P(Listings, MainMatches) {
  ASSERT_EQ(Compile(GetParam().source), 0) << Log();
  EXPECT_EQ(Main(), GetParam().mainListing);
}

INSTANTIATE_TEST_SUITE_P(CodeGen, Listings, ::testing::ValuesIn(kListings),
                         [](const auto& a_info) { return std::string(a_info.param.name); });

TEST_F(CodeGen, TopLevelAssignmentIsLocalOfMainWhileFunctionsReadTheGlobal) {
  ASSERT_EQ(Compile("x = 1; f = function() { y = x; return y; };"), 0) << Log();
  EXPECT_EQ(Main(),
            "function __main params 0 locals 2 stack 1\n"
            "0000 pushint1\n"
            "0004 setlocal 0\n"
            "0012 pushfunction #0\n"
            "0020 setlocal 1\n"
            "0028 return\n");
  EXPECT_EQ(Nested(0),
            "function (unnamed) params 0 locals 1 stack 1\n"
            "0000 getglobal x\n"
            "0008 setlocal 0\n"
            "0016 getlocal 0\n"
            "0024 returnvalue\n"
            "0028 return\n");
  ASSERT_EQ(hooks.functions.size(), 2u);
  EXPECT_EQ(hooks.Main()->references[0], hooks.functions[0].func);
  EXPECT_FALSE(hooks.functions[0].root);
  // "__main" has a function object of its own, made like any other.
  EXPECT_NE(hooks.Main()->func, nullptr);
  EXPECT_NE(hooks.Main()->func, hooks.functions[0].func);
  EXPECT_EQ(hooks.newFunctions, 2);
}

TEST_F(CodeGen, MemberDeclarationUntilALocalDeclarationTakesOver) {
  ASSERT_EQ(Compile("f = function(p) { member y; y = 2; g(); local y; y = 3; g(); return y; };"), 0) << Log();
  EXPECT_EQ(Nested(0),
            "function (unnamed) params 1 locals 1 stack 2\n"
            "0000 pushint 2\n"
            "0008 setthis y\n"
            "0016 pushnull\n"
            "0020 getglobal g\n"
            "0028 call 0\n"
            "0036 pop\n"
            "0040 pushint 3\n"
            "0048 setlocal 1\n"
            "0056 pushnull\n"
            "0060 getglobal g\n"
            "0068 call 0\n"
            "0076 pop\n"
            "0080 getlocal 1\n"
            "0088 returnvalue\n"
            "0092 return\n");
}

TEST_F(CodeGen, CalleeDeclaredMemberGetsThis) {
  ASSERT_EQ(Compile("f = function() { member m; m(); .n(); };"), 0) << Log();
  EXPECT_EQ(Nested(0),
            "function (unnamed) params 0 locals 0 stack 2\n"
            "0000 pushthis\n"
            "0004 getthis m\n"
            "0012 call 0\n"
            "0020 pop\n"
            "0024 pushthis\n"
            "0028 getthis n\n"
            "0036 call 0\n"
            "0044 pop\n"
            "0048 return\n");
}

TEST_F(CodeGen, StackDepthOfNestedCalls) {
  ASSERT_EQ(Compile("f(g(1, 2), h(3, 4, 5), 6);"), 0) << Log();
  // Deepest point: this+f, this+g, this+h and its three arguments.
  EXPECT_EQ(hooks.Main()->maxStackSize, 8);
  ASSERT_EQ(Compile("a.b(c:d(e.f(1)));"), 0) << Log();
  EXPECT_EQ(hooks.Main()->maxStackSize, 7);
}

TEST_F(CodeGen, DebugModeLineTableLocalNamesAndFunctionNames) {
  ASSERT_EQ(Compile("x = 1;\n"
                    "\n"
                    "if (x) {\n"
                    "  y = 2;\n"
                    "}\n"
                    "t = { go = function(a, b) {\n"
                    "  return b; } };\n"
                    "t.run = function() { };\n",
                    true),
            0)
      << Log();
  ASSERT_EQ(hooks.functions.size(), 3u);
  EXPECT_EQ(Nested(0),
            "function go params 2 locals 0 stack 1\n"
            "0000 line\n"
            "0004 getlocal 1 (b)\n"
            "0012 returnvalue\n"
            "0016 return\n"
            "lines\n"
            "0000 7\n");
  EXPECT_EQ(Nested(1),
            "function run params 0 locals 0 stack 0\n"
            "0000 return\n"
            "lines\n"
            "0000 8\n");
  EXPECT_EQ(Main(),
            "function __main params 0 locals 3 stack 3\n"
            "0000 line\n"
            "0004 pushint1\n"
            "0008 setlocal 0 (x)\n"
            "0016 line\n"
            "0020 getlocal 0 (x)\n"
            "0028 jumpzero 0056\n"
            "0036 line\n"
            "0040 pushint 2\n"
            "0048 setlocal 1 (y)\n"
            "0056 line\n"
            "0060 pushtable\n"
            "0064 dup\n"
            "0068 pushfunction #0\n"
            "0076 setdot go\n"
            "0084 setlocal 2 (t)\n"
            "0092 line\n"
            "0096 getlocal 2 (t)\n"
            "0104 pushfunction #2\n"
            "0112 setdot run\n"
            "0120 return\n"
            "lines\n"
            "0000 1\n"
            "0016 3\n"
            "0036 4\n"
            "0056 7\n"  // the assignment ends, and so is reduced, on line 7
            "0092 8\n");
}

struct ErrorCase {
  const char* name;
  const char* source;
  const char* log;
};

const ErrorCase kErrors[] = {
    {"BreakAtTopLevel", "break;", "error (1) illegal break statement\r\n"},
    {"ContinueInFunctionInsideLoop", "while (1) {\n  f = function() {\n    continue; }; }",
     "error (3) illegal continue statement\r\n"},
    {"RepeatedParameter", "\nf = function(a, b, a) { };", "error (2) parameter a already declared\r\n"},
    {"AssignToCallResult", "x = 1;\nf() = 2;", "error (2) illegal l-value for '=' operator\r\n"},
    {"AssignToConstant", "(1) += 2;", "error (1) illegal l-value for '=' operator\r\n"},
    // The finished function f must not reach the hooks either.
    {"ErrorAfterACompleteFunction", "f = function() { };\nbreak;", "error (2) illegal break statement\r\n"},
};

class Errors : public CodeGen, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(Errors, LoggedAndNothingHandedOver) {
  EXPECT_EQ(Compile(GetParam().source), 1);
  EXPECT_EQ(Log(), GetParam().log);
  EXPECT_EQ(hooks.Main(), nullptr);
  EXPECT_TRUE(hooks.functions.empty());
  EXPECT_TRUE(hooks.begun);
  EXPECT_EQ(hooks.endErrors, 1);
  EXPECT_TRUE(machine.IsGCEnabled());
}

INSTANTIATE_TEST_SUITE_P(CodeGen, Errors, ::testing::ValuesIn(kErrors),
                         [](const auto& a_info) { return std::string(a_info.param.name); });

TEST_F(CodeGen, DeepAndWideProgramsCompile) {
  // The deepest operator chain the parser accepts.
  std::string chain = "x = a";
  for (int i = 0; i < gmCodeTree::MAX_DEPTH - 10; ++i) chain += "+a";
  ASSERT_EQ(Compile((chain + ";").c_str(), true), 0) << Log();
  EXPECT_EQ(hooks.Main()->maxStackSize, 2);

  std::string nested;
  for (int i = 0; i < 300; ++i) nested += "f = function(p) { while (p) { if (p) { ";
  nested += "break;";
  for (int i = 0; i < 300; ++i) nested += "} } };";
  int before = hooks.newFunctions;
  ASSERT_EQ(Compile(nested.c_str(), true), 0) << Log();
  EXPECT_EQ(hooks.newFunctions - before, 301);  // with "__main"

  std::string names;
  for (int i = 0; i < 20000; ++i) names += "v" + std::to_string(i) + " = g" + std::to_string(i) + ";\n";
  ASSERT_EQ(Compile(names.c_str()), 0) << Log();
  EXPECT_EQ(hooks.Main()->numLocals, 20000);
  EXPECT_EQ(hooks.Main()->references.size(), 20000u);
}

TEST_F(CodeGen, CompilesAgainAfterAnError) {
  EXPECT_EQ(Compile("while (1) { f = function() { break; }; }"), 1);
  ASSERT_EQ(Compile("while (1) { break; }"), 0) << Log();
  EXPECT_NE(hooks.Main(), nullptr);
}

}  // namespace
