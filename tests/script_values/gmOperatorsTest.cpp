// The built-in operators as the virtual machine applies them (the operator of the operand
// with the higher type id), the type registry, and conversion to text.

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "script/vm/gmMachine.h"

namespace {

class OperatorTest : public ::testing::Test {
 protected:
  gmMachine machine;

  gmVariable Int(int i) { return gmVariable(static_cast<gmint>(i)); }
  gmVariable Float(float f) { return gmVariable(static_cast<gmfloat>(f)); }
  gmVariable Str(const char* t) { return gmVariable(machine.MakeString(t)); }

  // Applies a binary operator the way the interpreter dispatches it.
  int Apply(int op, const gmVariable& a, const gmVariable& b, gmVariable* out) {
    gmVariable slots[2] = {a, b};
    int type = a.type > b.type ? a.type : b.type;
    gmOperatorFunction fn = machine.GetTypeNativeOperator(type, op);
    if (!fn) return -1;
    int status = fn(&machine, nullptr, slots);
    *out = slots[0];
    return status;
  }
  int ApplyUnary(int op, gmVariable a, gmVariable* out) {
    gmOperatorFunction fn = machine.GetTypeNativeOperator(a.type, op);
    if (!fn) return -1;
    int status = fn(&machine, nullptr, &a);
    *out = a;
    return status;
  }
  std::string Text(const gmVariable& v) {
    char buffer[64];
    return machine.ValueToText(v, buffer, sizeof(buffer));
  }
};

TEST_F(OperatorTest, MixedTypeBinaryResults) {
  gmTableObject* t = machine.MakeTable();
  struct Case {
    const char* what;
    int op;
    gmVariable a, b;
    int type;
    const char* text;
  };
  const Case cases[] = {
      {"null + 5 keeps the null", O_ADD, gmVariable::Null(), Int(5), GM_NULL, "null"},
      {"5 + null", O_ADD, Int(5), gmVariable::Null(), GM_INT, "5"},
      {"null + 1.5", O_ADD, gmVariable::Null(), Float(1.5f), GM_FLOAT, "1.5"},
      {"int + float", O_ADD, Int(2), Float(0.25f), GM_FLOAT, "2.25"},
      {"a + 1", O_ADD, Str("a"), Int(1), GM_STRING, "a1"},
      {"1 + a", O_ADD, Int(1), Str("a"), GM_STRING, "1a"},
      {"x + 2.5 uses %f", O_ADD, Str("x"), Float(2.5f), GM_STRING, "x2.500000"},
      {"x + null", O_ADD, Str("x"), gmVariable::Null(), GM_STRING, "xnull"},
      {"\"null\" == null", O_EQ, Str("null"), gmVariable::Null(), GM_INT, "1"},
      {"\"10\" < \"9\"", O_LT, Str("10"), Str("9"), GM_INT, "1"},
      {"\"b\" <= \"a\"", O_LTE, Str("b"), Str("a"), GM_INT, "0"},
      {"\"a\" >= \"a\"", O_GTE, Str("a"), Str("a"), GM_INT, "1"},
      {"\"\\xe9\" > \"a\" compares unsigned", O_GT, Str("\xe9"), Str("a"), GM_INT, "1"},
      {"\"1\" != 1", O_NEQ, Str("1"), Int(1), GM_INT, "0"},
      {"1 == 1.0", O_EQ, Int(1), Float(1.0f), GM_INT, "1"},
      {"7 / 2", O_DIV, Int(7), Int(2), GM_INT, "3"},
      {"-7 / 2", O_DIV, Int(-7), Int(2), GM_INT, "-3"},
      {"-7 % 2", O_REM, Int(-7), Int(2), GM_INT, "-1"},
      {"min int / -1 wraps", O_DIV, Int(INT_MIN), Int(-1), GM_INT, "-2147483648"},
      {"min int % -1", O_REM, Int(INT_MIN), Int(-1), GM_INT, "0"},
      {"max int + 1 wraps", O_ADD, Int(INT_MAX), Int(1), GM_INT, "-2147483648"},
      {"65536 * 65536 wraps", O_MUL, Int(65536), Int(65536), GM_INT, "0"},
      {"1 << 33", O_BIT_SHIFTLEFT, Int(1), Int(33), GM_INT, "2"},
      {"-8 >> 1 is arithmetic", O_BIT_SHIFTRIGHT, Int(-8), Int(1), GM_INT, "-4"},
      {"6 ^ 3", O_BIT_XOR, Int(6), Int(3), GM_INT, "5"},
      {"-7.5 % 2 keeps the dividend's sign", O_REM, Float(-7.5f), Int(2), GM_FLOAT, "-1.5"},
      {"float compare gives int", O_LT, Float(1.5f), Int(2), GM_INT, "1"},
      {"1 / 0.0", O_DIV, Int(1), Float(0.0f), GM_FLOAT, "inf"},
      {"table == itself", O_EQ, gmVariable(t), gmVariable(t), GM_INT, "1"},
      {"table != other table", O_NEQ, gmVariable(t), gmVariable(machine.MakeTable()), GM_INT, "1"},
      {"5 [table] reads nothing", O_GETIND, Int(5), gmVariable(t), GM_NULL, "null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gmVariable r;
    ASSERT_EQ(Apply(c.op, c.a, c.b, &r), GM_OPERATOR_OK);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(Text(r), c.text);
  }
}

TEST_F(OperatorTest, UnaryResults) {
  struct Case {
    const char* what;
    int op;
    gmVariable a;
    int type;
    const char* text;
  };
  const Case cases[] = {
      {"not \"\"", O_NOT, Str(""), GM_INT, "0"},
      {"not null", O_NOT, gmVariable::Null(), GM_INT, "1"},
      {"not table", O_NOT, gmVariable(machine.MakeTable()), GM_INT, "0"},
      {"not 0", O_NOT, Int(0), GM_INT, "1"},
      {"not -0.0", O_NOT, Float(-0.0f), GM_INT, "1"},
      {"not 0.5", O_NOT, Float(0.5f), GM_INT, "0"},
      {"neg 5", O_NEG, Int(5), GM_INT, "-5"},
      {"neg min int", O_NEG, Int(INT_MIN), GM_INT, "-2147483648"},
      {"neg 0.5", O_NEG, Float(0.5f), GM_FLOAT, "-0.5"},
      {"bitinv 0", O_BIT_INV, Int(0), GM_INT, "-1"},
      {"pos 3", O_POS, Int(3), GM_INT, "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    gmVariable r;
    ASSERT_EQ(ApplyUnary(c.op, c.a, &r), GM_OPERATOR_OK);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(Text(r), c.text);
  }
}

TEST_F(OperatorTest, IntegerDivisionByZeroReportsInsteadOfTrapping) {
  gmVariable r;
  EXPECT_EQ(Apply(O_DIV, Int(1), Int(0), &r), GM_OPERATOR_DIVIDE_BY_ZERO);
  EXPECT_EQ(Apply(O_REM, Int(1), Int(0), &r), GM_OPERATOR_MODULO_BY_ZERO);
  EXPECT_EQ(Apply(O_DIV, gmVariable::Null(), Int(0), &r), GM_OPERATOR_DIVIDE_BY_ZERO);
  EXPECT_STREQ(gmOperatorStatusText(GM_OPERATOR_DIVIDE_BY_ZERO), "integer division by zero");
  EXPECT_STREQ(gmOperatorStatusText(GM_OPERATOR_MODULO_BY_ZERO), "integer modulo by zero");
  EXPECT_EQ(gmOperatorStatusText(GM_OPERATOR_FAILED), nullptr);
}

TEST_F(OperatorTest, LongConcatenationAndCStringOperand) {
  std::string longText(1000, 'z');
  gmVariable r;
  ASSERT_EQ(Apply(O_ADD, Str(longText.c_str()), Int(7), &r), GM_OPERATOR_OK);
  EXPECT_EQ(Text(r), longText + "7");
  // The machine extension's C text type reads through its pointer for add.
  char text[] = "borrowed";
  gmVariable cstr(GM_CSTRING, machine.MakeUserObject(text, GM_CSTRING));
  gmVariable slots[2] = {Str("a "), cstr};
  ASSERT_EQ(gmStringOpAdd(&machine, nullptr, slots), GM_OPERATOR_OK);
  EXPECT_EQ(Text(slots[0]), "a borrowed");
  // Concatenation interns: the same text gives the same object.
  EXPECT_EQ(slots[0].GetStringObject(), machine.MakeString("a borrowed"));
}

// A joined text takes its hash from its parts; a wrong one would put it in another chain than
// the same text made directly, and interning would then hold the text twice.
TEST_F(OperatorTest, JoinedTextsAreTheStringsOfTheirWholeTexts) {
  auto reference = [](const std::string& t) {
    gmuint h = 0;
    for (char c : t) h = h * 33u + static_cast<gmuint>(static_cast<int>(static_cast<signed char>(c)));
    return h;
  };
  char borrowed[] = "\xe9t\xe9";
  gmVariable cstr(GM_CSTRING, machine.MakeUserObject(borrowed, GM_CSTRING));
  std::string longText(300, 'q');
  struct Case {
    gmVariable left, right;
    std::string text;
  } cases[] = {
      {Str(""), Str(""), ""},
      {Str(""), Str("abc"), "abc"},
      {Str("abcde"), Str(""), "abcde"},
      {Str("\x80\xff"),
       Str("\xfe"
           "abcdefgh"),
       "\x80\xff\xfe"
       "abcdefgh"},
      {Str("abc"), Str("defghijklmnopqrstu"), "abcdefghijklmnopqrstu"},
      {Str(longText.c_str()), Str("\x81tail"), longText + "\x81tail"},
      {Str("head\x90"), Str(longText.c_str()), "head\x90" + longText},
      {Int(-42), Str("\xc3\xa9"), "-42\xc3\xa9"},
      {Str("x"), Float(0.5f), "x0.500000"},
      {gmVariable::Null(), Str("y"), "nully"},
      {Str("c:"), cstr, "c:\xe9t\xe9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    gmVariable slots[2] = {c.left, c.right};
    ASSERT_EQ(gmStringOpAdd(&machine, nullptr, slots), GM_OPERATOR_OK);
    EXPECT_EQ(slots[0].GetStringObject()->hash, reference(c.text));
    EXPECT_EQ(slots[0].GetStringObject(), machine.MakeString(c.text.c_str()));
  }
  // A text grown a piece at a time, as scripts build boards and logs.
  std::string whole;
  gmVariable grown = Str("");
  for (int i = 0; i < 200; ++i) {
    std::string piece = (i % 3 ? "line " : "\xb0\xb1") + std::to_string(i * 7919) + "\n";
    whole += piece;
    gmVariable r = gmVariable::Null();
    ASSERT_EQ(Apply(O_ADD, grown, Str(piece.c_str()), &r), GM_OPERATOR_OK);
    grown = r;
    ASSERT_EQ(grown.GetStringObject(), machine.MakeString(whole.c_str())) << i;
  }
}

// Ints become text in concatenation and in string compares; the text must stay exactly
// that of "%d", across digit-count boundaries and at both ends of the range.
TEST_F(OperatorTest, IntTextMatchesPrintf) {
  const int values[] = {0,           1,       -1,          9,       -9,         10,        -10,
                        99,          100,     -100,        12345,   -67890,     999999999, 1000000000,
                        -1000000000, INT_MAX, INT_MAX - 1, INT_MIN, INT_MIN + 1};
  for (int v : values) {
    char expected[32];
    std::snprintf(expected, sizeof(expected), "%d", v);
    SCOPED_TRACE(expected);
    gmVariable r;
    ASSERT_EQ(Apply(O_ADD, Str("k"), Int(v), &r), GM_OPERATOR_OK);
    EXPECT_EQ(Text(r), std::string("k") + expected);
    ASSERT_EQ(Apply(O_ADD, Int(v), Str("|"), &r), GM_OPERATOR_OK);
    EXPECT_EQ(Text(r), std::string(expected) + "|");
    ASSERT_EQ(Apply(O_EQ, Str(expected), Int(v), &r), GM_OPERATOR_OK);
    EXPECT_EQ(r.GetInt(), 1);
    // One character more or less must not compare equal.
    ASSERT_EQ(Apply(O_EQ, Int(v), Str((std::string(expected) + "0").c_str()), &r), GM_OPERATOR_OK);
    EXPECT_EQ(r.GetInt(), 0);
  }
}

TEST_F(OperatorTest, OperatorNames) {
  EXPECT_STREQ(gmGetOperatorName(O_GETDOT), "getdot");
  EXPECT_STREQ(gmGetOperatorName(O_REM), "mod");
  EXPECT_STREQ(gmGetOperatorName(O_BOOL), "bool");
  EXPECT_STREQ(gmGetOperatorName(25), "undefined");
  EXPECT_STREQ(gmGetOperatorName(-1), "undefined");
  EXPECT_EQ(gmGetOperatorType("ADD"), O_ADD);
  EXPECT_EQ(gmGetOperatorType("ShiftRight"), O_BIT_SHIFTRIGHT);
  EXPECT_EQ(gmGetOperatorType("plus"), O_MAXOPERATORS);
  EXPECT_EQ(gmGetOperatorType(""), O_MAXOPERATORS);
}

TEST_F(OperatorTest, TypeRegistry) {
  const char* names[] = {"null", "int", "float", "string", "table", "function", "gmState"};
  ASSERT_EQ(machine.GetNumTypes(), 7);
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(machine.TypeName(i), names[i]);
  EXPECT_STREQ(machine.TypeName(99), "undefined");

  int type = machine.DefineType("Thing");
  EXPECT_EQ(type, 7);
  EXPECT_STREQ(machine.TypeName(type), "Thing");
  EXPECT_TRUE(machine.GetTypeEntry(type).name->persist);
  // Defaults of a user type: identity eq/neq and the null test, nothing else.
  for (int op = 0; op < O_MAXOPERATORS; ++op) {
    bool expected = op == O_EQ || op == O_NEQ || op == O_NOT;
    EXPECT_EQ(machine.GetTypeNativeOperator(type, op) != nullptr, expected) << gmGetOperatorName(op);
  }

  gmFunctionObject* f = machine.MakeScriptFunction();
  EXPECT_TRUE(machine.SetTypeOperator(type, O_ADD, f, nullptr));
  EXPECT_EQ(machine.GetTypeOperator(type, O_ADD), f);
  EXPECT_EQ(machine.GetTypeNativeOperator(type, O_ADD), nullptr);
  EXPECT_FALSE(machine.SetTypeOperator(type, O_MAXOPERATORS, f, nullptr));
  EXPECT_FALSE(machine.SetTypeOperator(50, O_ADD, f, nullptr));

  EXPECT_TRUE(machine.SetTypeVariable(type, "Max", Int(9)));
  EXPECT_EQ(machine.GetTypeVariable(type, Str("Max")).GetInt(), 9);
  EXPECT_TRUE(machine.SetTypeVariable(type, "Max", gmVariable::Null()));
  EXPECT_TRUE(machine.GetTypeVariable(type, Str("Max")).IsNull());
  EXPECT_FALSE(machine.SetTypeVariable(50, "Max", Int(1)));
}

TEST_F(OperatorTest, ValueToText) {
  char buffer[64];
  EXPECT_STREQ(machine.ValueToText(gmVariable::Null(), buffer, sizeof(buffer)), "null");
  EXPECT_STREQ(machine.ValueToText(Int(-12), buffer, sizeof(buffer)), "-12");
  EXPECT_STREQ(machine.ValueToText(Float(0.5f), buffer, sizeof(buffer)), "0.5");
  EXPECT_STREQ(machine.ValueToText(Float(1e20f), buffer, sizeof(buffer)), "1e+20");
  gmStringObject* s = machine.MakeString("own text");
  EXPECT_EQ(machine.ValueToText(gmVariable(s), buffer, sizeof(buffer)), s->GetString());  // not copied

  std::string table = machine.ValueToText(gmVariable(machine.MakeTable()), buffer, sizeof(buffer));
  EXPECT_EQ(table.rfind("table:0x", 0), 0u) << table;
  EXPECT_GT(table.size(), 8u);
  EXPECT_EQ(table.find_first_not_of("0123456789abcdef", 8), std::string::npos) << table;

  int type = machine.DefineType("Widget");
  gmVariable widget(machine.MakeUserObject(nullptr, type));
  EXPECT_EQ(std::string(machine.ValueToText(widget, buffer, sizeof(buffer))).rfind("Widget:0x", 0), 0u);
  machine.SetTypeCallbacks(type, nullptr, nullptr,
                           [](gmUserObject*, char* b, int n) { std::snprintf(b, n, "a widget"); });
  EXPECT_STREQ(machine.ValueToText(widget, buffer, sizeof(buffer)), "a widget");
}

TEST_F(OperatorTest, TruthAndIdentityOfValues) {
  EXPECT_FALSE(gmVariable::Null().IsTrue());
  EXPECT_FALSE(Int(0).IsTrue());
  EXPECT_FALSE(Float(0.0f).IsTrue());
  EXPECT_TRUE(Float(-0.0f).IsTrue());
  EXPECT_TRUE(Str("").IsTrue());
  EXPECT_FALSE(Int(1).Same(Float(1.0f)));
  // A stray upper half left by a payload-only write never changes an int's identity.
  gmVariable dirty = Str("x");
  dirty.type = GM_INT;
  dirty.value.i = 5;
  EXPECT_TRUE(dirty.Same(Int(5)));
  EXPECT_EQ(dirty.KeyHash(), 5u);
}

TEST_F(OperatorTest, InterningKeepsOneObjectPerText) {
  gmStringObject* a = machine.MakeString("hello");
  EXPECT_EQ(machine.MakeString("hello"), a);
  EXPECT_EQ(machine.MakeString("hello world", 5), machine.MakeString("hello world"));  // length only sizes
  EXPECT_EQ(machine.MakeString("hi", 40)->GetLength(), 2);
  EXPECT_NE(machine.MakeString("Hello"), a);
  // Bytes above 127 hash as negative values; they still intern.
  gmStringObject* high = machine.MakeString("\xff\xfe");
  EXPECT_EQ(machine.MakeString("\xff\xfe"), high);
  EXPECT_EQ(machine.FindString("\xff\xfe"), high);
  // Texts sharing a chain all stay reachable (8192 chains: many texts per chain here).
  for (int i = 0; i < 20000; ++i) machine.MakeString(("s" + std::to_string(i)).c_str());
  for (int i = 0; i < 20000; i += 7) {
    gmStringObject* s = machine.FindString(("s" + std::to_string(i)).c_str());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetString(), "s" + std::to_string(i));
  }
  gmStringObject* p = machine.MakePermanentString("hello");
  EXPECT_EQ(p, a);
  EXPECT_TRUE(p->persist);
}

}  // namespace
