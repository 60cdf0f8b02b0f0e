// The score calls as games make them: Network.SubmitScore and Network.GetScore from script,
// whole frames of the player run in-process on a fake clock, and the tests' own HTTP server
// on the loopback pumped once before each frame. What the callbacks print, with the frame
// it was printed in, is what the tests read.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "network/netHttpClient.h"
#include "network/netScoreServer.h"
#include "platform/gMilliClockFake.h"
#include "tests/network/netFormFields.h"
#include "tests/network/netTestServer.h"

namespace {

using Printed = std::vector<std::pair<unsigned, std::string>>;

using netTest::Field;

std::string Body(const std::string& request) {
  size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? "" : request.substr(end + 4);
}

std::string Ok(const std::string& body) {
  return netTestServer::Response("200 OK", "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
}

// What a game's score callbacks might do: say which answer they got.
const char* const kCallbacks =
    "global scored = function(n) { print(\"scored\", n); };"
    "global got = function(t) {"
    "  if (t == null) { print(\"none\"); }"
    "  else if (t.count == null) { print(\"empty\"); }"
    "  else { print(\"data\", t.count, t.first.name, t.first.score); }"
    "};";

class ScoreScriptTest : public testing::Test {
 protected:
  void SetUp() override { Build(false); }

  void Build(bool developer) {
    TearDown();
    s_current = this;
    m_savedPrint = gmMachine::s_printCallback;
    gmMachine::s_printCallback = Capture;
    _gNetwork::Init();
    netHttpClient::lookupsInStart = true;  // a name fails in the frame that asked, every run
    netScoreServer::Set("127.0.0.1", server.port);
    host = gNewScriptHost(developer, gPlayerScriptApi());
    machine = host->GetMachine();
    ASSERT_NE(_gClock::instance, nullptr);
    ASSERT_NE(_gNetwork::instance, nullptr);
    time.now = 50'000'000;
    _gClock::instance->Initialise(&time, machine);
    frame = gFrame();
    frame.machine = machine;
    frame.clock = _gClock::instance;
    printed.clear();
    Run(kCallbacks);
  }

  void TearDown() override {
    if (!host) return;
    delete _gNetwork::instance;
    delete _gClock::instance;
    delete _gInput::instance;
    host.reset();
    netHttpClient::lookupsInStart = false;
    netScoreServer::Restore();
    gmMachine::s_printCallback = m_savedPrint;
    s_current = nullptr;
  }

  void Run(const std::string& text) { ASSERT_EQ(machine->RunString(text.c_str()), 0) << text; }

  void Frames(int count) {
    for (int i = 0; i < count; ++i) {
      server.Pump();
      frame.Run();
    }
  }

  int LogCount() { return machine->GetLog().GetEntryCount(); }

  std::vector<std::string> LogSince(int first) {
    std::vector<std::string> entries;
    bool start = true;
    int index = 0;
    while (const char* entry = machine->GetLog().GetEntry(start))
      if (index++ >= first) entries.push_back(entry);
    return entries;
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    for (const auto& p : printed) lines.push_back(p.second);
    return lines;
  }

  netTestServer server;
  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  gMilliClockFake time;
  gFrame frame;
  Printed printed;

 private:
  static void Capture(gmMachine*, const char* text) {
    std::string line = text;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    s_current->printed.emplace_back(s_current->frame.frames + 1, line);
  }
  static ScoreScriptTest* s_current;
  gmPrintCallback m_savedPrint = nullptr;
};

ScoreScriptTest* ScoreScriptTest::s_current = nullptr;

const char* const kAnswer = "table(count = 2, first = table(name = \"Ann\", score = 12.5))";

TEST_F(ScoreScriptTest, SubmissionAnswers) {
  struct Case {
    const char* answer;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"OK 3", {"scored 3"}},
      {"OK 0", {}},
      {"OK", {}},
      {"<html><body>Internal error</body></html>", {"scored -1"}},
  };
  host->checksum = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B";
  for (const Case& c : cases) {
    printed.clear();
    server.requests.clear();
    server.Queue({{Ok(c.answer)}});
    Run("global r = Network.SubmitScore(\"Game\", \"1.0\", \"lvl\", \"A&B=C d\", 12.5, \"scored\");");
    EXPECT_EQ(machine->GetGlobals()->GetByName(machine, "r").GetInt(), 0);
    Frames(10);
    EXPECT_EQ(Lines(), c.lines) << c.answer;
    EXPECT_EQ(_gNetwork::instance->requests.count, 0) << c.answer;
    ASSERT_EQ(server.requests.size(), 1u);
    const std::string& request = server.requests[0];
    EXPECT_EQ(request.compare(0, 31, "POST /submit.php HTTP/1.1\r\nCont"), 0) << request;
    const std::string body = Body(request);
    EXPECT_EQ(Field(body, "checksum"), host->checksum);
    EXPECT_EQ(Field(body, "script_name"), "Game");
    EXPECT_EQ(Field(body, "engine_version"), "7.10");
    EXPECT_EQ(Field(body, "player_name"), "A&B=C d");
    EXPECT_EQ(Field(body, "score"), "12.500000");
  }
}

TEST_F(ScoreScriptTest, QueryAnsweredAtOnceCallsOnceWithTheData) {
  server.Queue({{Ok(kAnswer)}});
  Run("Network.GetScore(\"Game\", \"1.0\", \"lvl\", 1, 10, \"got\");");
  Frames(60);
  ASSERT_EQ(printed.size(), 1u) << testing::PrintToString(Lines());
  EXPECT_EQ(printed[0].second, "data 2 Ann 12.5");
  EXPECT_LT(printed[0].first, 34u);
  EXPECT_EQ(_gClock::instance->PendingTimers(), 0);
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0].substr(0, server.requests[0].find("\r\n")),
            "GET /get.php?format=GM&script_name=Game&script_version=1.0&params=lvl&from=1&to=10&dev=0 HTTP/1.1");
}

TEST_F(ScoreScriptTest, SlowQueryGetsTheEmptyTableFirst) {
  netTestReply reply{{Ok(kAnswer)}};
  reply.delayFrames = 40;
  server.Queue(reply);
  Run("Network.GetScore(\"Game\", \"1.0\", \"lvl\", 1, 10, \"got\");");
  Frames(60);
  ASSERT_EQ(Lines(), (std::vector<std::string>{"empty", "data 2 Ann 12.5"}));
  EXPECT_EQ(printed[0].first, 34u);
  EXPECT_GT(printed[1].first, 40u);
  EXPECT_EQ(_gNetwork::instance->requests.count, 0);
}

// A server that never answers leaves the request listed, and the timer still answers.
TEST_F(ScoreScriptTest, SilentServerStillGetsTheTimerAnswer) {
  netTestReply reply{{"HTTP/1.1 200 OK\r\n"}};
  reply.close = false;
  server.Queue(reply);
  Run("Network.GetScore(\"Game\", \"1.0\", \"lvl\", 1, 10, \"got\");");
  Frames(60);
  EXPECT_EQ(printed, (Printed{{34, "empty"}}));
  EXPECT_EQ(_gNetwork::instance->requests.count, 1);
}

TEST_F(ScoreScriptTest, AnswerThatIsMoreThanDataIsRefused) {
  const char* const answers[] = {
      "table(count = print(\"owned\"))",
      "null); print(\"owned\"",
      "function() { print(\"owned\"); }",
  };
  for (const char* answer : answers) {
    printed.clear();
    const int before = LogCount();
    server.Queue({{Ok(answer)}});
    Run("Network.GetScore(\"Game\", \"1.0\", \"lvl\", 1, 10, \"got\");");
    Frames(60);
    EXPECT_TRUE(printed.empty()) << answer << ": " << testing::PrintToString(Lines());
    const std::vector<std::string> entries = LogSince(before);
    ASSERT_EQ(entries.size(), 1u) << answer;
    EXPECT_NE(entries[0].find("refused"), std::string::npos) << entries[0];
  }
}

TEST_F(ScoreScriptTest, RefusedConnection) {
  netScoreServer::Set("127.0.0.1", netTestServer::ClosedPort());
  testing::internal::CaptureStdout();
  Run("Network.SubmitScore(\"Game\", \"1.0\", \"\", \"Ann\", 1, \"scored\");"
      "Network.GetScore(\"Game\", \"1.0\", \"\", 0, 5, \"got\");");
  Frames(60);
  testing::internal::GetCapturedStdout();
  // Both fail in the same poll, in the order PLIB visits the channels. The query's callback
  // is run with the empty answer as its argument list, and its timer is gone.
  std::vector<std::string> lines = Lines();
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"none", "scored -1"}));
  for (const auto& p : printed) EXPECT_LT(p.first, 34u);
  EXPECT_EQ(_gNetwork::instance->requests.count, 0);
}

// A query callback that asks again, on a request that fails at once: each frame still ends
// (timers fire), the new request being polled from the next frame on.
TEST_F(ScoreScriptTest, CallbackThatAsksAgainLetsTheFrameEnd) {
  for (const char* serverHost : {"127.0.0.1", "ombrix-test.invalid"}) {
    SCOPED_TRACE(serverHost);
    Build(false);
    netScoreServer::Set(serverHost, netTestServer::ClosedPort());
    testing::internal::CaptureStdout();
    Run("global asks = 0; global ticks = 0;"
        "global again = function(t) { global asks = asks + 1; Network.GetScore(\"G\", \"1\", \"\", 0, 5, \"again\"); };"
        "global tick = function(t) { global ticks = ticks + 1; };"
        "Clock.AddTimer(TIMER_CYCLIC, 0, \"tick\", table());"
        "Network.GetScore(\"G\", \"1\", \"\", 0, 5, \"again\");");
    Frames(20);
    testing::internal::GetCapturedStdout();
    const int asks = machine->GetGlobals()->GetByName(machine, "asks").GetInt();
    EXPECT_GE(asks, 1);
    EXPECT_LE(asks, 20);
    EXPECT_EQ(machine->GetGlobals()->GetByName(machine, "ticks").GetInt(), 20);
    EXPECT_LE(_gNetwork::instance->requests.count, 1);
  }
}

TEST_F(ScoreScriptTest, DeveloperModeSendsDevAndTheDevChecksum) {
  Build(true);
  host->checksum = "dev";  // what mounting the package writes in developer mode
  server.Queue({{Ok("OK 1")}});
  server.Queue({{Ok(kAnswer)}});
  Run("Network.SubmitScore(\"Game\", \"1.0\", \"\", \"Ann\", 1, \"scored\");"
      "Network.GetScore(\"Game\", \"1.0\", \"\", 0, 5, \"got\");");
  Frames(20);
  ASSERT_EQ(server.requests.size(), 2u);
  std::string submit = server.requests[0], query = server.requests[1];
  if (submit.compare(0, 4, "POST") != 0) std::swap(submit, query);
  EXPECT_EQ(Body(submit).compare(0, 13, "checksum=dev&"), 0) << submit;
  EXPECT_NE(query.find("&dev=1 HTTP/1.1\r\n"), std::string::npos) << query;
}

}  // namespace
