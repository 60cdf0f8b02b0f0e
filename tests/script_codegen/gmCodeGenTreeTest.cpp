// Trees the parser never builds: the code generator must still refuse them with the right
// message instead of emitting nonsense.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "script/compiler/gmByteCode.h"
#include "script/compiler/gmCodeGen.h"
#include "script/compiler/gmLog.h"
#include "tests/script_codegen/gmTestHooks.h"
#include "tests/script_codegen/gmTreeBuilder.h"

namespace {

struct TreeCase {
  const char* name;
  std::function<gmCodeTreeNode*(gmTreeBuilder&)> build;
  const char* log;
};

const TreeCase kTrees[] = {
    {"UnknownConstantType",
     [](gmTreeBuilder& b) { return b.Op(GMOP_ASSIGN, b.Id("x"), b.Node(GMNK_EXPRESSION, GMET_CONSTANT, 9, 4)); },
     "unkown constant type\r\n"},
    {"UnknownUnaryOperator",
     [](gmTreeBuilder& b) { return b.Op(GMOP_ASSIGN, b.Id("x"), b.Op(27, b.Int(1), nullptr, 3)); },
     "error (3) unkown operator\r\n"},
    {"DotWithConstantMember", [](gmTreeBuilder& b) { return b.Discard(b.Op(GMOP_DOT, b.Id("a"), b.Int(1), 2)); },
     "error (2) illegal dot operator\r\n"},
    {"AssignToDotWithConstantMember",
     [](gmTreeBuilder& b) { return b.Op(GMOP_ASSIGN, b.Op(GMOP_DOT, b.Id("a"), b.Int(1), 5), b.Int(2), 5); },
     "error (5) illegal dot operator\r\n"},
    {"DeclarationWithUnknownScope",
     [](gmTreeBuilder& b) {
       gmCodeTreeNode* d = b.Node(GMNK_DECLARATION, GMDT_VARIABLE, 3, 1);
       d->children[0] = b.Id("x");
       return d;
     },
     "internal error\r\n"},
};

class Trees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(Trees, RefusedWithMessage) {
  gmMachine machine;
  gmLog log;
  gmTestHooks hooks(machine);
  gmTreeBuilder b;
  gmCodeTreeNode* root = gmTreeBuilder::List({b.Op(GMOP_ASSIGN, b.Id("y"), b.Int(0)), GetParam().build(b)});
  EXPECT_EQ(gmCodeGen::Get().Compile(root, &hooks, false, &log), 1);
  gmCodeGen::Get().Reset();
  std::string all;
  bool first = true;
  while (const char* e = log.GetEntry(first)) all += e;
  EXPECT_EQ(all, GetParam().log);
  EXPECT_TRUE(hooks.functions.empty());
  EXPECT_EQ(hooks.endErrors, 1);
}

INSTANTIATE_TEST_SUITE_P(CodeGen, Trees, ::testing::ValuesIn(kTrees),
                         [](const auto& a_info) { return std::string(a_info.param.name); });

TEST(CodeGenTree, RefusesACompileWhileOneIsRunning) {
  // A hook that starts a second compile from inside the first one.
  struct Reentrant : gmTestHooks {
    using gmTestHooks::gmTestHooks;
    gmCodeTreeNode* inner = nullptr;
    int innerResult = -1;
    bool Begin(bool debug) override {
      gmTestHooks::Begin(debug);
      innerResult = gmCodeGen::Get().Compile(inner, this, false, nullptr);
      return true;
    }
  };
  gmMachine machine;
  Reentrant hooks(machine);
  gmTreeBuilder b;
  hooks.inner = b.Op(GMOP_ASSIGN, b.Id("x"), b.Int(3));
  EXPECT_EQ(gmCodeGen::Get().Compile(b.Op(GMOP_ASSIGN, b.Id("y"), b.Int(3)), &hooks, false, nullptr), 0);
  gmCodeGen::Get().Reset();
  EXPECT_EQ(hooks.innerResult, 1);
  ASSERT_EQ(hooks.functions.size(), 1u);
  EXPECT_EQ(hooks.functions[0].listing,
            "function __main params 0 locals 1 stack 1\n"
            "0000 pushint 3\n"
            "0008 setlocal 0\n"
            "0016 return\n");
}

TEST(CodeGenTree, HooksMayAskForTheOtherByteOrder) {
  struct Swapped : gmTestHooks {
    using gmTestHooks::gmTestHooks;
    std::vector<unsigned char> bytes;
    bool SwapEndian() const override { return true; }
    bool AddFunction(gmFunctionInfo& info) override {
      bytes.assign(info.byteCode, info.byteCode + info.byteCodeLength);
      return gmTestHooks::AddFunction(info);
    }
  };
  gmMachine machine;
  Swapped hooks(machine);
  gmTreeBuilder b;
  ASSERT_EQ(gmCodeGen::Get().Compile(b.Op(GMOP_ASSIGN, b.Id("x"), b.Int(0x01020304)), &hooks, false, nullptr), 0);
  gmCodeGen::Get().Reset();
  std::vector<unsigned char> expected = {0, 0,           0, BC_PUSHINT, 1, 2, 3, 4, 0, 0,
                                         0, BC_SETLOCAL, 0, 0,          0, 0, 0, 0, 0, BC_RETURN};
  EXPECT_EQ(hooks.bytes, expected);
}

}  // namespace
