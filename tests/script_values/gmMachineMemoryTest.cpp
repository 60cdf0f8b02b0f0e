// Memory accounting of object shells and size-class storage, shell reuse, and the
// collector's bookkeeping at creation and destruction.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "script/vm/gmMachine.h"

namespace {

TEST(SizeClassStorage, ChargesTheClassSizeOrTheExactSize) {
  const struct {
    size_t request, charged;
  } cases[] = {{0, 8},    {1, 8},     {8, 8},     {9, 16},    {17, 24},   {25, 32},    {33, 64},
               {65, 128}, {129, 256}, {257, 512}, {512, 512}, {513, 513}, {5000, 5000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    gmMemFixedSet set;
    void* p = set.Alloc(c.request);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    EXPECT_EQ(set.GetBytesAllocated(), c.charged);
    EXPECT_EQ(gmMemFixedSet::ChargedBytes(c.request), c.charged);
    if (c.request) memset(p, 0xab, c.request);  // the whole request is usable
    set.Free(p);
    EXPECT_EQ(set.GetBytesAllocated(), 0u);
  }
}

TEST(SizeClassStorage, FreedBlocksAreReusedByTheirClass) {
  gmMemFixedSet set;
  void* a = set.Alloc(20);
  void* b = set.Alloc(20);
  set.Free(a);
  EXPECT_EQ(set.Alloc(24), a);  // same class, freed block first
  EXPECT_NE(set.Alloc(20), b);
  set.Free(nullptr);
  // Large blocks are released on free and the rest with the set (the sanitizer checks).
  void* big = set.Alloc(4096);
  set.Free(big);
  set.Alloc(1024);
}

TEST(MemChain, ResetReusesChunks) {
  gmMemChain chain(24, 4);
  for (int i = 0; i < 10; ++i) chain.Alloc();
  void* wide = chain.AllocBytes(500, 16);  // wider than a chunk: a chunk of its own
  EXPECT_EQ(reinterpret_cast<uintptr_t>(wide) % 16, 0u);
  size_t held = chain.GetSystemMemUsed();
  chain.Reset();
  for (int i = 0; i < 10; ++i) chain.Alloc();
  chain.AllocBytes(500, 16);
  EXPECT_EQ(chain.GetSystemMemUsed(), held);
}

class MachineMemoryTest : public ::testing::Test {
 protected:
  gmMachine machine;
  int base = machine.GetCurrentMemoryUsage();

  int Delta() { return machine.GetCurrentMemoryUsage() - base; }
  void Destroy(gmObject* obj) { machine.GetGC()->DestructObject(&machine, obj); }
};

TEST_F(MachineMemoryTest, CreationAddsShellAndStorageBytesAndDestructionTakesThemBack) {
  gmStringObject* s = machine.MakeString("abc");  // 4 bytes of text: class 8
  EXPECT_EQ(Delta(), 28 + 8);
  machine.MakeString("abc");  // interned: nothing new
  EXPECT_EQ(Delta(), 28 + 8);
  gmStringObject* big = machine.MakeString(std::string(600, 'q').c_str());  // exact 601
  EXPECT_EQ(Delta(), 28 + 8 + 28 + 601);
  Destroy(big);
  Destroy(s);
  EXPECT_EQ(Delta(), 0);
  EXPECT_EQ(machine.FindString("abc"), nullptr);  // left its chain

  gmTableObject* t = machine.MakeTable();
  EXPECT_EQ(Delta(), 32);
  t->Set(&machine, gmVariable(static_cast<gmint>(1)), gmVariable(static_cast<gmint>(2)));
  int nodes = static_cast<int>(gmMemFixedSet::ChargedBytes(4 * sizeof(gmTableNode)));
  EXPECT_EQ(Delta(), 32 + nodes);
  gmFunctionObject* f = machine.MakeNativeFunction(nullptr, 7);
  gmUserObject* u = machine.MakeUserObject(nullptr, GM_USER);
  EXPECT_EQ(Delta(), 32 + nodes + 60 + 24);
  EXPECT_EQ(machine.GetObjectBytes() - (base - machine.GetSizeClassBytes() + nodes), 32 + 60 + 24);
  Destroy(t);
  Destroy(f);
  Destroy(u);
  EXPECT_EQ(Delta(), 0);
}

TEST_F(MachineMemoryTest, ShellsGoBackToTheirClassFreeList) {
  gmTableObject* t = machine.MakeTable();
  Destroy(t);
  EXPECT_EQ(machine.MakeTable(), t);
  gmUserObject* u = machine.MakeUserObject(nullptr, GM_USER);
  Destroy(u);
  EXPECT_NE(static_cast<void*>(machine.MakeString("not a user object")), static_cast<void*>(u));
  EXPECT_EQ(machine.MakeUserObject(nullptr, GM_USER), u);
}

TEST_F(MachineMemoryTest, FunctionBuffersAreReleasedWithTheFunction) {
  gmFunctionObject* f = machine.MakeScriptFunction();
  EXPECT_EQ(f->maxStackSize, 1);
  EXPECT_FALSE(f->IsNative());
  f->byteCode = static_cast<gmuint8*>(machine.Alloc(40));
  f->byteCodeLength = 40;
  // NOLINTNEXTLINE(bugprone-sizeof-expression): an array of object pointers
  f->references = static_cast<gmObject**>(machine.Alloc(sizeof(gmObject*)));
  f->references[0] = machine.MakeString("constant");
  f->numReferences = 1;
  f->debugInfo = new (machine.Alloc(sizeof(gmFunctionDebugInfo))) gmFunctionDebugInfo();
  f->debugInfo->name = static_cast<char*>(machine.Alloc(5));
  Destroy(f);
  EXPECT_EQ(Delta(), 28 + 16);  // only the constant string is left
}

int s_destructed = 0;
void* s_destructedData = nullptr;

TEST_F(MachineMemoryTest, UserObjectsRunTheirTypesDestructCallback) {
  int type = machine.DefineType("Handle");
  machine.SetTypeCallbacks(
      type, nullptr,
      [](gmMachine*, gmUserObject* obj) {
        ++s_destructed;
        s_destructedData = obj->user;
      },
      nullptr);
  int native = 42;
  gmUserObject* u = machine.MakeUserObject(&native, type);
  EXPECT_EQ(gmVariable(u).type, type);
  s_destructed = 0;
  Destroy(u);
  EXPECT_EQ(s_destructed, 1);
  EXPECT_EQ(s_destructedData, &native);
  EXPECT_EQ(native, 42);  // the wrapper never owned it
}

TEST_F(MachineMemoryTest, CreationRegistersObjectsWithTheCollector) {
  gmGarbageCollector* gc = machine.GetGC();
  int objects = gc->colorSet.CountObjects();
  int persistent = gc->colorSet.CountPersistent();
  gmTableObject* t = machine.MakeTable();
  EXPECT_TRUE(gc->IsMarked(t));  // new objects are black
  EXPECT_FALSE(t->persist);
  gmStringObject* s = machine.MakeString("symbol");
  EXPECT_EQ(gc->colorSet.CountObjects(), objects + 2);
  EXPECT_EQ(machine.MakePermanentString("symbol"), s);
  EXPECT_TRUE(s->persist);
  EXPECT_EQ(gc->colorSet.CountObjects(), objects + 1);
  EXPECT_EQ(gc->colorSet.CountPersistent(), persistent + 1);
  machine.MakeString("symbol");  // a permanent string stays on the persistent list
  EXPECT_EQ(gc->colorSet.CountPersistent(), persistent + 1);
  // Re-interning an unmarked string gives it the current colour (as a cycle would need).
  gc->currentColor ^= 1;
  gmStringObject* again = machine.MakeString("again");
  again->color = gc->currentColor ^ 1;
  EXPECT_EQ(machine.MakeString("again"), again);
  EXPECT_TRUE(gc->IsMarked(again));
  gc->currentColor ^= 1;
  // No cycle is in progress, so the write barrier leaves objects where they are.
  machine.WriteBarrier(t);
  EXPECT_TRUE(gc->colorSet.IsGrayEmpty());
}

TEST_F(MachineMemoryTest, TracingAndTheWriteBarrierDuringACycle) {
  gmGarbageCollector* gc = machine.GetGC();
  gmTableObject* t = machine.MakeTable();
  gmTableObject* child = machine.MakeTable();
  gmTableObject* dropped = machine.MakeTable();
  gmVariable key(machine.MakeString("child"));
  gmVariable permanentKey(machine.MakePermanentString("permanent"));
  t->Set(&machine, key, gmVariable(child));
  t->Set(&machine, permanentKey, gmVariable(dropped));
  t->Set(&machine, gmVariable(static_cast<gmint>(1)), gmVariable(static_cast<gmint>(2)));

  // Pretend a cycle is running and nothing has been marked in it yet.
  gc->currentColor ^= 1;
  gc->finished = false;
  int work = 0;
  EXPECT_TRUE(t->Trace(&machine, gc, 200, work));
  EXPECT_EQ(work, 1 + 4);  // the table, then each reference key or value
  EXPECT_TRUE(gc->IsMarked(child));
  EXPECT_TRUE(gc->IsMarked(key.GetObject()));
  EXPECT_FALSE(gc->colorSet.IsGrayEmpty());

  // Overwriting or removing a reference keeps the old object alive through the barrier;
  // the no-barrier form (rebuilds, copies) does not.
  gmTableObject* overwritten = machine.MakeTable();
  overwritten->color = gc->currentColor ^ 1;
  t->Set(&machine, key, gmVariable(overwritten));
  t->Set(&machine, key, gmVariable(static_cast<gmint>(0)));
  EXPECT_TRUE(gc->IsMarked(overwritten));
  dropped->color = gc->currentColor ^ 1;
  t->Set(&machine, permanentKey, gmVariable::Null(), true);
  EXPECT_FALSE(gc->IsMarked(dropped));
  gc->finished = true;
}

TEST(MachineLifetime, DestroyingTheMachineFreesEverything) {
  // Run under the sanitizer build: a leak or a double free fails the test binary.
  gmMachine* machine = new gmMachine();
  gmTableObject* t = machine->MakeTable();
  for (int i = 0; i < 300; ++i) {
    gmVariable key(machine->MakeString(("key" + std::to_string(i)).c_str()));
    t->Set(machine, key, gmVariable(machine->MakeTable()));
  }
  machine->MakePermanentString("kept");
  machine->MakeNativeFunction(nullptr, 0);
  delete machine;
}

}  // namespace
