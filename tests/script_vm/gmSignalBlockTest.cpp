// Signals and blocks seen from the host: the block records per value and per thread, the
// pending state, signals queued for pending threads and consumed by their next block, and
// the values that only records and queued signals keep alive.

#include <gtest/gtest.h>

#include <string>

#include "script/vm/gmMachine.h"

namespace {

std::string g_out;
int g_probesDestroyed = 0;

void CapturePrint(gmMachine*, const char* a_text) {
  g_out += a_text;
  g_out += "\n";
}

int Out(gmThread* a_thread) {
  char buffer[64];
  std::string line;
  for (int i = 0; i < a_thread->GetNumParams(); ++i) {
    if (i) line += " ";
    line += a_thread->GetMachine()->ValueToText(a_thread->Param(i), buffer, sizeof(buffer));
  }
  gmMachine::s_printCallback(a_thread->GetMachine(), line.c_str());
  return GM_NATIVE_OK;
}

// queued(): how many signals wait for the calling thread.
int Queued(gmThread* a_thread) {
  a_thread->PushInt(gmBlockHash::CountSignals(a_thread));
  return GM_NATIVE_OK;
}

void ProbeDestruct(gmMachine*, gmUserObject*) { ++g_probesDestroyed; }

class SignalBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_out.clear();
    g_probesDestroyed = 0;
    savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = CapturePrint;
    static const gmFunctionEntry entries[] = {{"out", Out, 0}, {"queued", Queued, 0}};
    machine.RegisterNatives(entries, 2);
  }
  void TearDown() override { gmMachine::s_printCallback = savedPrint; }

  // Runs the text on a new thread and returns that thread (null once it ended).
  gmThread* Start(const char* a_text) {
    int id = 0;
    EXPECT_EQ(0, machine.RunString(a_text, &id));
    return machine.FindThread(id);
  }
  void Run(const char* a_text) { Start(a_text); }
  gmVariable Str(const char* a_text) { return gmVariable(machine.MakeString(a_text)); }
  // The ids of the threads blocked on a value, in list order.
  std::string Waiting(const gmVariable& a_value) {
    std::string ids;
    if (const gmBlockList* list = machine.GetBlocks().Find(a_value)) {
      for (const gmBlock* b = list->first; b; b = b->next) ids += std::to_string(b->thread->GetId()) + " ";
    }
    return ids;
  }

  gmPrintCallback savedPrint = nullptr;
  gmMachine machine;
};

TEST_F(SignalBlockTest, BlockRecordsPerValueVanishWithTheirThread) {
  gmThread* t1 = Start("block(`a`, 1);");
  gmThread* t2 = Start("block(`a`);");
  ASSERT_TRUE(t1 && t2);
  const std::string id1 = std::to_string(t1->GetId()), id2 = std::to_string(t2->GetId());
  EXPECT_EQ(gmThread::BLOCKED, t1->GetState());
  EXPECT_EQ(2, gmBlockHash::CountBlocks(t1));
  EXPECT_EQ(2, machine.GetBlocks().CountLists());
  EXPECT_EQ(id1 + " " + id2 + " ", Waiting(Str("a")));
  EXPECT_EQ(id1 + " ", Waiting(gmVariable(1)));
  // Keys are by type: the float 1.0 and the string "1" are other values.
  EXPECT_EQ("", Waiting(gmVariable(1.0f)));
  EXPECT_EQ("", Waiting(Str("1")));

  Run(("threadKill(" + id1 + ");").c_str());
  EXPECT_EQ(id2 + " ", Waiting(Str("a")));
  EXPECT_EQ(nullptr, machine.GetBlocks().Find(gmVariable(1)));
  EXPECT_EQ(1, machine.GetBlocks().CountLists());
  Run(("threadKill(" + id2 + ");").c_str());
  EXPECT_EQ(0, machine.GetBlocks().CountLists());
}

TEST_F(SignalBlockTest, ManyValuesInOneChainKeepTheirOwnLists) {
  // Ints 0, 64, 128 ... share a chain; each keeps its own list, and removing one in the
  // middle leaves the others findable.
  int ids[8];
  for (int i = 0; i < 8; ++i) ids[i] = Start(("block(" + std::to_string(((i * 5) % 8) * 64) + ");").c_str())->GetId();
  EXPECT_EQ(8, machine.GetBlocks().CountLists());
  Run(("threadKill(" + std::to_string(ids[3]) + ");").c_str());
  for (int i = 0; i < 8; ++i) {
    const gmVariable key(static_cast<gmint>(((i * 5) % 8) * 64));
    EXPECT_EQ(i == 3 ? "" : std::to_string(ids[i]) + " ", Waiting(key)) << i;
  }
}

TEST_F(SignalBlockTest, SignalMakesWaitingThreadsPendingAndQueuesForPendingOnes) {
  gmThread* t1 = Start("block(`x`);");
  gmThread* t2 = Start("block(`y`, `x`);");
  gmThread* t3 = Start("block(`x`, `x`);");
  ASSERT_TRUE(t1 && t2 && t3);

  // With a destination only that thread is handled, and only its first record.
  int signaller = 0;
  machine.RunString(("signal(`x`, " + std::to_string(t3->GetId()) + ");").c_str(), &signaller);
  EXPECT_EQ(gmThread::PENDING, t3->GetState());
  EXPECT_EQ(gmThread::BLOCKED, t1->GetState());
  EXPECT_EQ(0, gmBlockHash::CountSignals(t3));
  const gmBlockList* x = machine.GetBlocks().Find(Str("x"));
  ASSERT_NE(nullptr, x);
  const gmBlock* t3first = x->last->prev;
  ASSERT_EQ(t3, t3first->thread);
  EXPECT_TRUE(t3first->signalled);
  EXPECT_EQ(signaller, t3first->signallerId);
  EXPECT_FALSE(x->last->signalled);

  // To all: t1 and t2 become pending; t3, pending already, gets it queued twice (once per
  // record).
  Run("signal(`x`);");
  EXPECT_EQ(gmThread::PENDING, t1->GetState());
  EXPECT_EQ(gmThread::PENDING, t2->GetState());
  EXPECT_EQ(2, gmBlockHash::CountSignals(t3));
  EXPECT_EQ(0, gmBlockHash::CountSignals(t1));
  // Pending threads keep their place in the blocked list.
  EXPECT_EQ(t1, machine.GetFirstThread(gmThread::BLOCKED));
  EXPECT_EQ(t2, t1->GetNextInList());
  EXPECT_EQ(t3, t2->GetNextInList());

  // Killing a pending thread drops its records and its queue.
  machine.SwitchThreadState(t3, gmThread::KILLED);
  EXPECT_EQ(2, machine.GetBlocks().CountLists());
  machine.SwitchThreadState(t1, gmThread::KILLED);
  machine.SwitchThreadState(t2, gmThread::KILLED);
  EXPECT_EQ(0, machine.GetBlocks().CountLists());
}

TEST_F(SignalBlockTest, AQueuedSignalAnswersTheNextBlockAtOnce) {
  // The thread prints what its blocks return. Its first block never returns a value
  // (nothing resumes it here); the host moves it back to running to see the rest.
  gmThread* t = Start(
      "out(`first`, block(`p`, `x`));"
      "out(`second`, block(`q`, `p`), queued());"
      "out(`third`, block(`x`), queued());");
  ASSERT_TRUE(t);
  Run("signal(`p`); signal(`p`); signal(`x`);");
  EXPECT_EQ(gmThread::PENDING, t->GetState());
  EXPECT_EQ(2, gmBlockHash::CountSignals(t));

  // Leaving pending drops the records but keeps the queue for the next block.
  machine.SwitchThreadState(t, gmThread::RUNNING);
  EXPECT_EQ(0, machine.GetBlocks().CountLists());
  EXPECT_EQ(2, gmBlockHash::CountSignals(t));
  g_out.clear();
  // The newest signal (x) matches nothing and is dropped on the way to p, which answers.
  // The third block then finds nothing queued and blocks.
  EXPECT_EQ(gmThread::BLOCKED, t->Run());
  EXPECT_EQ("first null\nsecond p 0\n", g_out);
  EXPECT_EQ(1, gmBlockHash::CountBlocks(t));
}

TEST_F(SignalBlockTest, BlockingDropsSignalsQueuedWhileRunning) {
  gmThread* t = Start("block(`x`); out(queued()); block(`y`);");
  ASSERT_TRUE(t);
  Run("signal(`x`); signal(`x`);");
  machine.SwitchThreadState(t, gmThread::RUNNING);
  g_out.clear();
  EXPECT_EQ(gmThread::BLOCKED, t->Run());
  EXPECT_EQ("1\n", g_out);
  EXPECT_EQ(0, gmBlockHash::CountSignals(t));
}

TEST_F(SignalBlockTest, StateSetDropsTheRecordsAndQueueOfItsThread) {
  gmThread* t = Start("global f = function() { block(`z`); }; block(`x`);");
  ASSERT_TRUE(t);
  Run("signal(`x`); signal(`x`);");
  ASSERT_EQ(1, gmBlockHash::CountSignals(t));
  Run(("stateSetOnThread(" + std::to_string(t->GetId()) + ", f);").c_str());
  EXPECT_EQ(gmThread::RUNNING, t->GetState());
  EXPECT_EQ(0, gmBlockHash::CountSignals(t));
  EXPECT_EQ(0, machine.GetBlocks().CountLists());
}

TEST_F(SignalBlockTest, RecordsAndQueuedSignalsKeepTheirValuesAlive) {
  const int probeType = machine.DefineType("probe");
  machine.SetTypeCallbacks(probeType, nullptr, ProbeDestruct, nullptr);
  gmTableObject* globals = machine.GetGlobals();
  globals->SetByName(&machine, "p1", gmVariable(machine.MakeUserObject(nullptr, probeType)));
  globals->SetByName(&machine, "p2", gmVariable(machine.MakeUserObject(nullptr, probeType)));

  // Held by a block record only, and by a queued signal only.
  gmThread* recordHolder = Start("block(p1);");
  gmThread* queueHolder = Start("block(p2);");
  ASSERT_TRUE(recordHolder && queueHolder);
  Run("signal(p2); signal(p2);");
  globals->SetByName(&machine, "p1", gmVariable::Null());
  globals->SetByName(&machine, "p2", gmVariable::Null());
  machine.SwitchThreadState(queueHolder, gmThread::RUNNING);
  ASSERT_EQ(1, gmBlockHash::CountSignals(queueHolder));

  machine.Collect(true);
  machine.Collect(true);
  EXPECT_EQ(0, g_probesDestroyed);

  machine.SwitchThreadState(recordHolder, gmThread::KILLED);
  machine.SwitchThreadState(queueHolder, gmThread::KILLED);
  machine.Collect(true);
  EXPECT_EQ(2, g_probesDestroyed);
}

}  // namespace
