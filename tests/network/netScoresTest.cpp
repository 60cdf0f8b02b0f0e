#include "network/_gNetwork.h"
#include "network/netHttpClient.h"
#include "network/netScoreServer.h"
#include "network/netScores.h"
#include "script/compiler/gmLog.h"
#include "tests/network/netFormFields.h"
#include "tests/network/netTestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kAgent = "User-agent: Ombrix 7.10 (https://ombrix.org)\r\n";

using netTest::Field;
using netTest::FormDecode;

TEST(netScores, EncodeKeepsPlainTextAndEscapesTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"Player_1.x-y*", "Player_1.x-y*"},
      {"a&b=c", "a%26b%3Dc"},
      {"two words", "two+words"},
      {"1+1%", "1%2B1%25"},
      {"line\nbreak\r", "line%0Abreak%0D"},
      {"caf\xc3\xa9", "caf%C3%A9"},
      {std::string("nul\0x", 5), "nul%00x"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(netScores::Encode(c.first), c.second);
    EXPECT_EQ(FormDecode(netScores::Encode(c.first)), c.first);
  }
}

TEST(netScores, SubmitBodyAndQueryTarget) {
  netScoreSubmission s;
  s.checksum = "dev";
  s.scriptName = "Vastrelline";
  s.scriptVersion = "1.2";
  s.params = "level=3";
  s.playerName = "Ann & Bob";
  s.score = 1234.5f;
  s.timestamp = -5;
  EXPECT_EQ(netScores::SubmitBody(s),
            "checksum=dev&script_name=Vastrelline&script_version=1.2&engine_version=7.10"
            "&params=level%3D3&player_name=Ann+%26+Bob&score=1234.500000"
            "&user_timestamp=-5");
  s.score = 3.4e38f;
  std::string huge = netScores::SubmitBody(s);
  EXPECT_NE(huge.find("&score=3399999952"), std::string::npos);
  EXPECT_EQ(huge.substr(huge.size() - 25), ".000000&user_timestamp=-5");

  EXPECT_EQ(netScores::QueryTarget("Vastrelline", "1.2", "", 0, 10, false),
            "/get.php?format=GM&script_name=Vastrelline&script_version=1.2&params=&from=0&to=10&dev=0");
  EXPECT_EQ(netScores::QueryTarget("a b", "v", "p&q", 4294967295u, 2147483648u, true),
            "/get.php?format=GM&script_name=a+b&script_version=v&params=p%26q&from=-1&to=-2147483648&dev=1");
}

TEST(netScores, SubmitAnswerRule) {
  struct Case {
    std::string answer;
    bool call;
    int value;
  };
  const Case cases[] = {
      {"OK 3", true, 3},   {"OK 0", false, 0},
      {"OK", false, 0},    {"OK\n42\n", true, 42},
      {"OK -7", true, -7}, {"OK x", false, 0},
      {"", true, -1},      {"<html>Error</html>", true, -1},
      {"ok 3", true, -1},  {"OK 99999999999", true, 2147483647},
  };
  for (const Case& c : cases) {
    int value = 12345;
    EXPECT_EQ(netScores::SubmitAnswer(c.answer, &value), c.call) << c.answer;
    if (c.call) {
      EXPECT_EQ(value, c.value) << c.answer;
    }
  }
}

TEST(netScores, QueryAnswerMustBeData) {
  struct Case {
    std::string answer;
    int result;
  };
  const Case cases[] = {
      {"", netScores::ANSWER_DATA},
      {"1, -2, 3.5, -4.5, \"x\", null, true, false", netScores::ANSWER_DATA},
      {"{ {name = \"ann\", score = 10}, {name = \"bob\", score = -3} }", netScores::ANSWER_DATA},
      {"table(1, 2, table(a = \"b\")), {}", netScores::ANSWER_DATA},
      {"Quit()", netScores::ANSWER_REFUSED},
      {"x", netScores::ANSWER_REFUSED},
      {"{a = b}", netScores::ANSWER_REFUSED},
      {"{a = f()}", netScores::ANSWER_REFUSED},
      {"function() { Quit(); }", netScores::ANSWER_REFUSED},
      {"1 + x", netScores::ANSWER_REFUSED},
      {"-\"text\"", netScores::ANSWER_REFUSED},
      {"!x", netScores::ANSWER_REFUSED},
      {"-(2 * 3), 1 + 2", netScores::ANSWER_DATA},  // folded to constants by the parser
      {"this", netScores::ANSWER_REFUSED},
      {"1); Quit(", netScores::ANSWER_REFUSED},
      {"1); global g = 1; cb(", netScores::ANSWER_REFUSED},
      {"1) + Quit(", netScores::ANSWER_REFUSED},
      {"1)(", netScores::ANSWER_REFUSED},
      {"{1, 2", netScores::ANSWER_NOT_SCRIPT},
      {"<html>", netScores::ANSWER_NOT_SCRIPT},
  };
  for (const Case& c : cases) {
    gmLog log;
    std::string script = "untouched";
    EXPECT_EQ(netScores::CheckQueryAnswer("cb", c.answer, &log, &script), c.result) << c.answer;
    if (c.result == netScores::ANSWER_DATA) {
      EXPECT_EQ(script, "cb(" + c.answer + ");");
      EXPECT_EQ(log.GetEntryCount(), 0) << c.answer;
    } else {
      EXPECT_EQ(script, "untouched");
      EXPECT_GE(log.GetEntryCount(), 1) << c.answer;
    }
    if (c.result == netScores::ANSWER_REFUSED) {
      ASSERT_EQ(log.GetEntryCount(), 1) << c.answer;
      bool first = true;
      EXPECT_EQ(std::string(log.GetEntry(first)), "score answer for cb refused: it holds more than data\r\n");
    }
  }

  gmLog log;
  std::string script;
  EXPECT_EQ(netScores::CheckQueryAnswer("Scores.OnList", "{1}", &log, &script), netScores::ANSWER_DATA);
  EXPECT_EQ(netScores::CheckQueryAnswer("other", "1); cb(2", &log, &script), netScores::ANSWER_REFUSED);
}

// Records what the score calls ask of the script side.
class FakeScripts : public netScoreScripts {
 public:
  std::vector<std::string> events;
  gmLog log;
  _gNetwork* network = nullptr;

  void Add(netHttpClient* client) override { network->Add(client); }

  void CallScore(const std::string& callback, int value) override {
    events.push_back("call " + callback + " " + std::to_string(value));
  }
  void QueryAnswered(netHttpClient& client) override { events.push_back("answered " + client.callback); }
  void RunAnswer(const std::string& script) override { events.push_back("run " + script); }
  gmLog* Log() override { return &log; }
};

class netScoresServerTest : public ::testing::Test {
 protected:
  netTestServer server;
  _gNetwork network;
  FakeScripts scripts;

  void SetUp() override {
    scripts.network = &network;
    _gNetwork::Init();
    _gNetwork::SetWarningSink([](const char*) {});
    netScoreServer::Set("127.0.0.1", server.port);
  }
  void TearDown() override {
    netScoreServer::Restore();
    _gNetwork::SetWarningSink(nullptr);
  }

  bool RunUntilIdle() {
    for (int i = 0; i < 2000; ++i) {
      server.Pump();
      network.Poll();
      if (network.requests.count == 0) return true;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }

  static netTestReply Answer(const std::string& status, const std::string& body) {
    return {{netTestServer::Response(status, "Content-Length: " + std::to_string(body.size()) + "\r\n", body)}};
  }

  netScoreSubmission Submission(const std::string& player) {
    netScoreSubmission s;
    s.checksum = "dev";
    s.scriptName = "Game";
    s.scriptVersion = "1";
    s.params = "";
    s.playerName = player;
    s.score = 10.25f;
    s.timestamp = 1700000000;
    return s;
  }
};

TEST_F(netScoresServerTest, SubmissionArrivesIntactAndItsAnswerIsRead) {
  const std::string player = "A&B=C D+E%41\nx";
  server.Queue(Answer("200 OK", "OK 3"));
  netHttpClient* client = netScores::Submit(Submission(player), "OnScore", &scripts);
  EXPECT_EQ(client->kind, netHttpClient::KIND_SUBMIT);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(server.requests.size(), 1u);
  const std::string body =
      "checksum=dev&script_name=Game&script_version=1&engine_version=7.10&params="
      "&player_name=A%26B%3DC+D%2BE%2541%0Ax&score=10.250000&user_timestamp=1700000000";
  EXPECT_EQ(server.requests[0],
            "POST /submit.php HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-length: " +
                std::to_string(body.size()) + "\r\nHost: 127.0.0.1\r\n" + kAgent + "Connection: close\r\n\r\n" + body);
  EXPECT_EQ(Field(body, "player_name"), player);
  EXPECT_EQ(Field(body, "checksum"), "dev");
  EXPECT_EQ(scripts.events, (std::vector<std::string>{"call OnScore 3"}));
}

TEST_F(netScoresServerTest, SubmissionAnswers) {
  struct Case {
    netTestReply reply;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {Answer("200 OK", "OK 0"), {}},
      {Answer("200 OK", "OK"), {}},
      {Answer("200 OK", "<html><body>Database error</body></html>"), {"call cb -1"}},
      {Answer("500 Internal Server Error", "OK 3"), {"call cb -1"}},
  };
  for (const Case& c : cases) {
    scripts.events.clear();
    server.Queue(c.reply);
    netScores::Submit(Submission("p"), "cb", &scripts);
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(scripts.events, c.events) << c.reply.pieces[0];
  }

  scripts.events.clear();
  netScoreServer::Set("127.0.0.1", netTestServer::ClosedPort());
  netScores::Submit(Submission("p"), "cb", &scripts);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(scripts.events, (std::vector<std::string>{"call cb -1"})) << "refused";
}

TEST_F(netScoresServerTest, QueryRunsOnlyData) {
  server.Queue(Answer("200 OK", "{ {name=\"ann\", score=10} }, 1"));
  netHttpClient* client = netScores::Query("Game", "1", "", 0, 10, true, "OnList", &scripts);
  EXPECT_EQ(client->kind, netHttpClient::KIND_QUERY);
  ASSERT_TRUE(RunUntilIdle());
  ASSERT_EQ(server.requests.size(), 1u);
  EXPECT_EQ(server.requests[0],
            "GET /get.php?format=GM&script_name=Game&script_version=1&params=&from=0&to=10&dev=1"
            " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                kAgent + "Connection: close\r\n\r\n");
  EXPECT_EQ(scripts.events,
            (std::vector<std::string>{"answered OnList", "run OnList({ {name=\"ann\", score=10} }, 1);"}));

  scripts.events.clear();
  server.Queue(Answer("200 OK", "1); System.Quit("));
  netScores::Query("Game", "1", "", 0, 10, false, "OnList", &scripts);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(scripts.events, (std::vector<std::string>{"answered OnList"}));
  EXPECT_EQ(scripts.log.GetEntryCount(), 1);

  scripts.events.clear();
  server.Queue(Answer("404 Not Found", "gone"));
  netScores::Query("Game", "1", "", 0, 10, false, "OnList", &scripts);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(scripts.events, (std::vector<std::string>{"answered OnList", "run OnList();"}))
      << "a failed query calls back with no arguments";

  scripts.events.clear();
  server.Queue(Answer("200 OK", "1"));
  netScores::Query("Game", "1", "", 0, 10, false, "", &scripts);
  ASSERT_TRUE(RunUntilIdle());
  EXPECT_EQ(scripts.events, (std::vector<std::string>{"answered "})) << "no callback name: nothing is run";
}

}  // namespace
