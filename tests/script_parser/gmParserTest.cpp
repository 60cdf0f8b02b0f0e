#include "gmTreeDump.h"

#include "script/compiler/gmCodeTree.h"
#include "script/compiler/gmLog.h"
#include "script/compiler/gmScanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Tokens(const char* text) {
  std::vector<gmScannedToken> tokens;
  gmScanText(text, tokens);
  std::string out;
  for (const gmScannedToken& t : tokens) {
    if (!out.empty()) out += ' ';
    out += gmTokenName(t.token);
    if (t.token >= 279 && t.token <= 285) out += "(" + t.text + ")";
  }
  return out;
}

// Parses one text with a fresh log; the tree stays until the fixture is torn down.
class Parse : public ::testing::Test {
 protected:
  gmLog log;
  int result = -1;

  void TearDown() override { gmCodeTree::Get().Reset(); }

  int Run(const std::string& text) {
    gmCodeTree::Get().Reset();
    result = gmCodeTree::Get().Parse(text.c_str(), &log);
    return result;
  }

  gmCodeTreeNode* Root() { return gmCodeTree::Get().GetRoot(); }

  std::string Tree(const std::string& text) {
    if (Run(text) != gmCodeTree::PARSE_OK) return "failed: " + Log();
    return gmTreeDump(Root());
  }

  std::string Log() {
    std::string all;
    bool first = true;
    while (const char* entry = log.GetEntry(first)) all += entry;
    return all;
  }
};

struct Case {
  const char* text;
  const char* expected;
};

TEST(Scanner, SplitsTokensByLongestMatch) {
  const Case cases[] = {
      {"0x", "CONSTANT_INT(0) IDENTIFIER(x)"},
      {"0X1f 0b101 0b2", "CONSTANT_HEX(0X1f) CONSTANT_BINARY(0b101) CONSTANT_INT(0) IDENTIFIER(b2)"},
      {"1.5.5", "CONSTANT_FLOAT(1.5) CONSTANT_FLOAT(.5)"},
      {"1e5 .5 1. 1.e5 2.5f 3E-2F",
       "CONSTANT_FLOAT(1e5) CONSTANT_FLOAT(.5) CONSTANT_FLOAT(1.) CONSTANT_FLOAT(1.e5) "
       "CONSTANT_FLOAT(2.5f) CONSTANT_FLOAT(3E-2F)"},
      {"1f 1e", "CONSTANT_INT(1) IDENTIFIER(f) CONSTANT_INT(1) IDENTIFIER(e)"},
      {"007", "CONSTANT_INT(007)"},
      {"local locals _x9 If", "KEYWORD_LOCAL IDENTIFIER(locals) IDENTIFIER(_x9) IDENTIFIER(If)"},
      {"a && b || c and d or e",
       "IDENTIFIER(a) KEYWORD_AND IDENTIFIER(b) KEYWORD_OR IDENTIFIER(c) KEYWORD_AND "
       "IDENTIFIER(d) KEYWORD_OR IDENTIFIER(e)"},
      {">>= >> > <<= << <= >= == = != !",
       "SYMBOL_ASGN_BSR SYMBOL_RIGHT_SHIFT '>' SYMBOL_ASGN_BSL SYMBOL_LEFT_SHIFT "
       "SYMBOL_LTE SYMBOL_GTE SYMBOL_EQ '=' SYMBOL_NEQ '!'"},
      {"+= -= *= /= %= &= |= ^=",
       "SYMBOL_ASGN_ADD SYMBOL_ASGN_MINUS SYMBOL_ASGN_TIMES SYMBOL_ASGN_DIVIDE "
       "SYMBOL_ASGN_REM SYMBOL_ASGN_BAND SYMBOL_ASGN_BOR SYMBOL_ASGN_BXOR"},
      {"'ab' '\\''", "CONSTANT_CHAR('ab') CONSTANT_CHAR('\\'')"},
      {"''", "TOKEN_ERROR TOKEN_ERROR"},
      {"\"a\\\"b\" `c``d`", "CONSTANT_STRING(\"a\\\"b\") CONSTANT_STRING(`c``d`)"},
      // An unterminated string is an error token for its quote, and scanning goes on.
      {"\"ab", "TOKEN_ERROR IDENTIFIER(ab)"},
      {"`ab", "TOKEN_ERROR IDENTIFIER(ab)"},
      {"# $ @ ? \\ \xc3\xa9", "TOKEN_ERROR TOKEN_ERROR TOKEN_ERROR TOKEN_ERROR TOKEN_ERROR TOKEN_ERROR TOKEN_ERROR"},
      {"a // comment\r\nb /* c\n */ d /* open", "IDENTIFIER(a) IDENTIFIER(b) IDENTIFIER(d)"},
      {"/* a */ */", "'*' '/'"},
      {"\"\xff\" '\xfe'", "CONSTANT_STRING(\"\xff\") CONSTANT_CHAR('\xfe')"},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokens(c.text), c.expected) << c.text;
}

TEST(Scanner, CountsNewlinesInsideEveryToken) {
  std::vector<gmScannedToken> tokens;
  gmScanText("a\n\"x\ny\"\n/*\n\n*/ b // c\n`\n` c", tokens);
  ASSERT_EQ(tokens.size(), 5u);
  const int lines[] = {1, 3, 6, 8, 8};  // the line after each token
  for (size_t i = 0; i < tokens.size(); ++i) EXPECT_EQ(tokens[i].line, lines[i]) << tokens[i].text;
}

TEST_F(Parse, BuildsTreesFromTheGrammar) {
  const Case cases[] = {
      {";", ""},
      {"f();", "(call f);"},
      {"x = -5;", "(= x -5)"},
      {"x = 2*3+1;", "(= x 7)"},
      {"x = 1/0;", "(= x (/ 1 0))"},
      {"x = 1 + 2 * y - 3;", "(= x (- (+ 1 (* 2 y)) 3))"},
      {"x = a or b and c | d ^ e & f == g < h << i;", "(= x (or a (and b (| c (^ d (& e (== f (< g (<< h i)))))))))"},
      {"x = - - ~!y;", "(= x (-u (-u (~ (! y)))))"},
      {"x += a.b;", "(= x (+ x (. a b)))"},
      {"a[i] >>= 2;", "(= ([] a i) (>> ([] a i) 2))"},
      {"local a; global b = 1; member c = {};", "(local a) (global b) (= b 1) (member c) (= c (table))"},
      {"x = .y + this;", "(= x (+ .y this))"},
      {"a.f(1, 2); a:g(); a:h(3);", "(call (. a f) 1 2); (call :a g); (call :a h 3);"},
      {"x = {1, a = 2, };", "(= x (table 1 (field a 2)))"},
      {"x = table(1, a = 2);", "(= x (table 1 (field a 2)))"},
      {"x = table();", "(= x (table))"},
      {"{1, 2};", "(table 1 2);"},
      {"f = function(a, b = 1) { return a; };", "(= f (function ((param a) (param b 1)) (block (return a))))"},
      {"f = function() {};", "(= f (function () (block)))"},
      {"if (a) { b(); } else if (c) { } else { d(); }", "(if a (block (call b);) (if c (block) (block (call d);)))"},
      {"while (a) { break; } dowhile (b) { continue; }", "(while a (block (break))) (dowhile b (block (continue)))"},
      {"for (i = 0; i < 3; i += 1) { }", "(for (= i 0) (< i 3) (= i (+ i 1)) (block))"},
      {"for (;;) { return; }", "(for _ _ _ (block (return)))"},
      {"foreach (v in t) { } foreach (k and v in t) { }", "(foreach t v _ (block)) (foreach t v k (block))"},
      {"x = \"ab\" \"c\\n\";", "(= x \"abc\\n\")"},
      {"x = `a``b`;", "(= x \"a`b\")"},
      {"x = \"\\65\\0661\\q\\\\\\\"\\'\";", "(= x \"AB1q\\\\\\\"'\")"},
      {"x = \"\\a\\b\\f\\r\\t\\v\";", "(= x \"\\x07\\x08\\x0c\\x0d\\x09\\x0b\")"},
      // Only the appended token is unescaped, each by its own quote style.
      {"x = \"a\\\\\" `\\n` \"\\n\";", "(= x \"a\\\\\\\\n\\n\")"},
      {"x = ``````;", "(= x \"``\")"},
      {"x = 'ab';", "(= x 24930)"},
      {"x = '\\n\\'';", "(= x 2599)"},
      {"x = 0xFFFFFFFF; y = 0x1FFFFFFFF; z = 0b11;", "(= x -1) (= y -1) (= z 3)"},
      {"x = 2147483647; y = -2147483648; z = 99999999999;", "(= x 2147483647) (= y -2147483648) (= z -1)"},
      {"x = true; y = false; z = null;", "(= x 1) (= y 0) (= z null)"},
      {"x = 1.5 * 2; y = -.5; z = 7 % 2.0;", "(= x 3f) (= y -0.5f) (= z 1f)"},
  };
  for (const Case& c : cases) EXPECT_EQ(Tree(c.text), c.expected) << c.text;
}

TEST_F(Parse, FoldsOnlyWhatTheRulesAllow) {
  const Case cases[] = {
      {"x = 2147483647 + 1;", "(= x -2147483648)"},
      {"x = 65536 * 65536;", "(= x 0)"},
      {"x = -7 / 2; y = -7 % 2;", "(= x -3) (= y -1)"},
      {"x = 1 << 33; y = -8 >> 1; z = 6 & 3 | 8 ^ 1;", "(= x 2) (= y -4) (= z 11)"},
      {"x = !0; y = !5; z = ~0; w = +3;", "(= x 1) (= y 0) (= z -1) (= w 3)"},
      {"x = 1 % 0; y = 1.0 / 0; z = 1.5 / 0.0;", "(= x (% 1 0)) (= y (/ 1f 0)) (= z (/ 1.5f 0f))"},
      {"x = (-2147483647 - 1) / -1;", "(= x (/ -2147483648 -1))"},
      {"x = ~1.5; y = !1.5; z = 1.5 | 1;", "(= x (~ 1.5f)) (= y (! 1.5f)) (= z (| 1.5f 1))"},
      {"x = 1 < 2; y = 1 == 1; z = 1 and 0;", "(= x (< 1 2)) (= y (== 1 1)) (= z (and 1 0))"},
      {"x = \"a\" + \"b\"; y = null + 1; z = -\"s\";", "(= x (+ \"a\" \"b\")) (= y (+ null 1)) (= z (-u \"s\"))"},
  };
  for (const Case& c : cases) EXPECT_EQ(Tree(c.text), c.expected) << c.text;
}

TEST_F(Parse, RejectsWhatTheGrammarForbids) {
  const char* const texts[] = {
      "",
      "// only a comment\n/* and a block */",
      "if (a) b();",
      "{ x = 1; }",
      "f(x = 1);",
      "x = y = 1;",
      "x = table(1, 2, );",
      "x = 1.5.5;",
      "x = 1",
      "x = \"open;",
      "x++;",
      "return x = 1;",
  };
  for (const char* text : texts) {
    EXPECT_EQ(Run(text), gmCodeTree::PARSE_ERROR) << text;
    EXPECT_EQ(Root(), nullptr) << text;
  }
}

TEST_F(Parse, ReportsTheLineAndExpectedTokensOfASyntaxError) {
  EXPECT_EQ(Run(std::string(11, '\n') + "local x"), gmCodeTree::PARSE_ERROR);
  EXPECT_EQ(Log(), "error (12) parse error, expecting `';'' or `'=''\r\n");
}

TEST_F(Parse, ListsNoExpectedTokensWhenFiveOrMoreFit) {
  Run("x = ;\nx = 1;");
  EXPECT_EQ(Log(), "error (1) parse error\r\n");
}

TEST_F(Parse, ReportsOnlyTheFirstErrorAndNamesKeywordTokens) {
  Run("foreach (k and v) { }\n}}}");
  EXPECT_EQ(Log(), "error (1) parse error, expecting `KEYWORD_IN'\r\n");
}

TEST_F(Parse, WarnsAboutTruncatedCharacterConstants) {
  EXPECT_EQ(Tree("x = 'abcde';"), "(= x 1650680933)");
  EXPECT_EQ(Log(), "truncated char, line 1\r\n");
  EXPECT_EQ(Tree("\nx = 'abcd';"), "(= x 1633837924)");
  EXPECT_EQ(Log(), "truncated char, line 1\r\n");
}

TEST_F(Parse, GivesStatementsTheLineOfTheirFirstChild) {
  ASSERT_EQ(Run("\nif (\na\n) { }\nfor (\n;;) {\n}\nwhile\n(\n\nb) {}\nx = function() {\n\n};"), gmCodeTree::PARSE_OK);
  const gmCodeTreeNode* ifNode = Root();
  EXPECT_EQ(ifNode->line, 3);
  const gmCodeTreeNode* forNode = ifNode->next;
  EXPECT_EQ(forNode->subtype, GMST_FOR);
  // An empty initialiser leaves the line current when the rule is reduced: at its '}'.
  EXPECT_EQ(forNode->line, 7);
  const gmCodeTreeNode* whileNode = forNode->next;
  EXPECT_EQ(whileNode->line, 11);
  const gmCodeTreeNode* assign = whileNode->next;
  EXPECT_EQ(assign->children[1]->subtype, GMET_FUNCTION);
  EXPECT_EQ(assign->children[1]->line, 14);
}

TEST_F(Parse, LinksParentsAndSharesTheCompoundAssignmentTarget) {
  ASSERT_EQ(Run("a.b *= f(1, 2);"), gmCodeTree::PARSE_OK);
  gmCodeTreeNode* assign = Root();
  gmCodeTreeNode* value = assign->children[1];
  EXPECT_EQ(value->detail, GMOP_MUL);
  EXPECT_EQ(assign->children[0], value->children[0]);
  gmCodeTreeNode* call = value->children[1];
  EXPECT_EQ(call->parent, value);
  EXPECT_EQ(call->children[1]->parent, call);
  EXPECT_EQ(call->children[1]->next->next, nullptr);
}

TEST_F(Parse, RootIsEmptyWhenOnlyEmptyStatements) {
  EXPECT_EQ(Run(";;\n;"), gmCodeTree::PARSE_OK);
  EXPECT_EQ(Root(), nullptr);
  EXPECT_EQ(Log(), "");
}

TEST_F(Parse, RefusesASecondParseUntilReset) {
  gmCodeTree& tree = gmCodeTree::Get();
  tree.Reset();
  ASSERT_EQ(tree.Parse("x = 1;", &log), gmCodeTree::PARSE_OK);
  const gmCodeTreeNode* root = tree.GetRoot();
  EXPECT_EQ(tree.Parse("y = 2;", &log), gmCodeTree::PARSE_ERROR);
  EXPECT_EQ(tree.GetRoot(), root);
  EXPECT_EQ(Log(), "");
  tree.Reset();
  EXPECT_EQ(tree.GetRoot(), nullptr);
  EXPECT_EQ(tree.Parse("y = 2;", nullptr), gmCodeTree::PARSE_OK);
  EXPECT_EQ(gmTreeDump(tree.GetRoot()), "(= y 2)");
  tree.Reset();
  // Without a log, errors are dropped.
  EXPECT_EQ(tree.Parse("y = ", nullptr), gmCodeTree::PARSE_ERROR);
}

TEST_F(Parse, SurvivesHostileInput) {
  // The parser stack grows well past its first 200 states...
  EXPECT_EQ(Tree("x = " + std::string(5000, '(') + "1" + std::string(5000, ')') + ";"), "(= x 1)");
  std::string negations;
  for (int i = 0; i < 3000; ++i) negations += "-";
  EXPECT_EQ(Run("x = " + negations + "y;"), gmCodeTree::PARSE_OK);
  EXPECT_EQ(Log(), "");

  // ...and nesting deeper than its limit is an overflow, not a crash.
  std::string nested = "x = " + std::string(100000, '(') + "1" + std::string(100000, ')') + ";";
  EXPECT_EQ(Run(nested), gmCodeTree::PARSE_STACK_OVERFLOW);
  EXPECT_EQ(Log(), "error (1) parser stack overflow\r\n");

  // A chain of operators builds a deep tree without a deep parser stack; it is bounded too.
  std::string chain = "x = a";
  for (int i = 0; i < gmCodeTree::MAX_DEPTH + 10; ++i) chain += "+a";
  EXPECT_EQ(Run(chain + ";"), gmCodeTree::PARSE_STACK_OVERFLOW);

  // ...but a long chain that folds away is fine.
  std::string folded = "x = 1";
  for (int i = 0; i < 50000; ++i) folded += "+1";
  EXPECT_EQ(Tree(folded + ";"), "(= x 50001)");

  std::string longName(1 << 20, 'n');
  EXPECT_EQ(Run("x = " + longName + ";"), gmCodeTree::PARSE_OK);
  EXPECT_EQ(std::strlen(Root()->children[1]->data.text), size_t(1) << 20);

  std::string manyStrings = "x = ";
  for (int i = 0; i < 100000; ++i) manyStrings += "\"ab\" ";
  ASSERT_EQ(Run(manyStrings + ";"), gmCodeTree::PARSE_OK);
  EXPECT_EQ(std::strlen(Root()->children[1]->data.text), 200000u);

  std::string statements;
  for (int i = 0; i < 100000; ++i) statements += "f(i);\n";
  ASSERT_EQ(Run(statements), gmCodeTree::PARSE_OK);
  int count = 0;
  for (const gmCodeTreeNode* n = Root(); n; n = n->next) ++count;
  EXPECT_EQ(count, 100000);

  // Text after a NUL byte is not part of the source.
  EXPECT_EQ(Tree(std::string("x = 1;\0garbage(", 15)), "(= x 1)");
  EXPECT_EQ(Run("x = \"\x80\xff\";"), gmCodeTree::PARSE_OK);
  EXPECT_EQ(Run("x = \x80;"), gmCodeTree::PARSE_ERROR);
  EXPECT_EQ(Run("x = 1; /* never closed"), gmCodeTree::PARSE_OK);
}

}  // namespace
