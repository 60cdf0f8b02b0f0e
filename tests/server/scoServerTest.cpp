// ombrix-scores as a running process: the player's own client against it, hostile and
// malformed requests, a SIGKILL in the middle of a load, and two instances on one
// PostgreSQL database.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "binding/gScriptMachine.h"
#include "clock/_gClock.h"
#include "host/gFrame.h"
#include "host/gPlayerScriptApi.h"
#include "input/_gInput.h"
#include "network/_gNetwork.h"
#include "network/netScoreServer.h"
#include "platform/gMilliClockFake.h"
#include "script/vm/gmMachine.h"
#include "server/scoStore.h"

#include <sqlite3.h>
#include "tests/server/scoTestServer.h"
#include "tests/support/playerRun.h"

namespace {

using scoTest::Process;
using scoTest::TempDir;

// The player, in-process: its script host with the whole script API, frames on a fake
// clock, score calls made from script and answered by the server under test.
class Player {
 public:
  std::vector<std::string> printed;

  explicit Player(int port) {
    s_current = this;
    saved = gmMachine::s_printCallback;
    gmMachine::s_printCallback = [](gmMachine*, const char* text) {
      std::string line = text;
      while (!line.empty() && line.back() == ' ') line.pop_back();
      s_current->printed.push_back(line);
    };
    _gNetwork::Init();
    netScoreServer::Set("127.0.0.1", port);
    host = gNewScriptHost(false, gPlayerScriptApi());
    host->checksum = "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B";  // what mounting a package sets
    machine = host->GetMachine();
    time.now = 1'000'000;
    _gClock::instance->Initialise(&time, machine);
    frame.machine = machine;
    frame.clock = _gClock::instance;
  }

  ~Player() {
    delete _gNetwork::instance;
    delete _gClock::instance;
    delete _gInput::instance;
    host.reset();
    netScoreServer::Restore();
    gmMachine::s_printCallback = saved;
    s_current = nullptr;
  }

  void Run(const std::string& text) { ASSERT_EQ(machine->RunString(text.c_str()), 0) << text; }

  // Frames until every request is answered. The server runs in another process, so this
  // waits on it, a millisecond a frame at most; the 60 s limit is only a safety net.
  bool Settle() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limit) {
      frame.Run();
      if (_gNetwork::instance->requests.count == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

 private:
  std::unique_ptr<gScriptHost> host;
  gmMachineEx* machine = nullptr;
  gMilliClockFake time;
  gFrame frame;
  gmPrintCallback saved = nullptr;
  static Player* s_current;
};

Player* Player::s_current = nullptr;

// Script text for a string literal holding any text (back quotes doubled).
std::string Literal(const std::string& text) {
  std::string out = "`";
  for (char c : text) out += c == '`' ? std::string("``") : std::string(1, c);
  return out + "`";
}

TEST(ScoreServer, ThePlayerSubmitsAndQueries) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db"});
  ASSERT_GT(server.port, 0);
  Player player(server.port);
  player.Run(
      "global scored = function(n) { print(\"scored\", n); };"
      "global got = function(t) { for (i = 0; t[i] != null; i += 1) {"
      " print(t[i].rank, t[i].score, \"[\" + t[i].player + \"]\"); } };");

  const std::pair<std::string, std::string> submissions[] = {
      {"\"); sysCollectGarbage(); (\"", "30"},
      {"`); print(`owned`); (`", "10"},
      {"A&B=C d+e%41", "20"},
      {"<script>x</script>", "-1.5"},
  };
  const char* params = "mode=\"hard\"&level=1";
  for (const auto& s : submissions) {
    player.Run("Network.SubmitScore(\"Game\", \"1.0\", " + Literal(params) + ", " + Literal(s.first) + ", " + s.second +
               ", \"scored\");");
    ASSERT_TRUE(player.Settle());
  }
  EXPECT_EQ(player.printed, (std::vector<std::string>{"scored 1", "scored 2", "scored 2", "scored 4"}));

  player.printed.clear();
  player.Run("Network.GetScore(\"Game\", \"1.0\", " + Literal(params) + ", 0, 10, \"got\");");
  ASSERT_TRUE(player.Settle());
  EXPECT_EQ(player.printed, (std::vector<std::string>{
                                "1 30 [\"); sysCollectGarbage(); (\"]",
                                "2 20 [A&B=C d+e%41]",
                                "3 10 [`); print(`owned`); (`]",
                                "4 -1.5 [<script>x</script>]",
                            }));

  // Another table (other params, or developer mode) sees none of them.
  player.printed.clear();
  player.Run("Network.GetScore(\"Game\", \"1.0\", \"\", 1, 10, \"got\");");
  ASSERT_TRUE(player.Settle());
  EXPECT_TRUE(player.printed.empty());
}

// The built player, headless, sent to the server by its command line: a developer-mode
// game submits a score and reads the table back from the server's developer tables.
TEST(ScoreServer, PlayerCommandLinePointsAtTheServer) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db"});
  ASSERT_GT(server.port, 0);
  ASSERT_EQ(std::system(("mkdir '" + dir.path + "/game'").c_str()), 0);
  {
    std::FILE* start = std::fopen((dir.path + "/game/start.qv").c_str(), "w");
    ASSERT_NE(start, nullptr);
    std::fputs(
        "global got = function(t) { if (t != null && t[0] != null) {"
        " print(\"top\", t[0].player, t[0].score); } print(\"answered\"); };"
        "global scored = function(n) { print(\"scored\", n);"
        " Network.GetScore(\"Game\", \"1.0\", \"\", 1, 5, \"got\"); };"
        "Network.SubmitScore(\"Game\", \"1.0\", \"\", \"Ann `x`\", 42.5, \"scored\");",
        start);
    std::fclose(start);
  }
  // The game runs until stopped: once the answer to its query has arrived.
  testSupport::PlayerOptions options;
  options.dir = dir.path;
  options.args = {"--nowindow", "--dev", "game", "--score-server", "127.0.0.1:" + std::to_string(server.port)};
  options.stopAfter = "answered";
  options.limitSeconds = 60;
  const testSupport::PlayerRun run = testSupport::RunPlayer(options);
  EXPECT_EQ(run.status, 0);
  const std::string& out = run.out;
  EXPECT_NE(out.find("scored 1 \n"), std::string::npos) << out;
  EXPECT_NE(out.find("top Ann `x` 42.5"), std::string::npos) << out;
}

TEST(ScoreServer, MalformedRequestsGetErrors) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db", "--rate", "0"});
  ASSERT_GT(server.port, 0);
  httplib::Client client = server.Client();
  const std::string form = "application/x-www-form-urlencoded";
  struct Case {
    const char* label;
    std::function<httplib::Result()> send;
    int status;
  };
  const std::string good = scoTest::SubmitBody("G", "Ann", "1.000000");
  const Case cases[] = {
      {"good submission", [&] { return client.Post("/submit.php", good, form.c_str()); }, 200},
      {"empty body", [&] { return client.Post("/submit.php", "", form.c_str()); }, 400},
      {"bad escape", [&] { return client.Post("/submit.php", good + "&x=%G0", form.c_str()); }, 400},
      {"score twice", [&] { return client.Post("/submit.php", good + "&score=1e6", form.c_str()); }, 400},
      {"NaN", [&] { return client.Post("/submit.php", scoTest::SubmitBody("G", "A", "nan"), form.c_str()); }, 400},
      {"NUL in a name",
       [&] { return client.Post("/submit.php", scoTest::SubmitBody("G", std::string("A\0B", 3), "1"), form.c_str()); },
       400},
      {"long name",
       [&] { return client.Post("/submit.php", scoTest::SubmitBody("G", std::string(65, 'n'), "1"), form.c_str()); },
       400},
      {"huge body", [&] { return client.Post("/submit.php", good + "&pad=" + std::string(20000, 'x'), form.c_str()); },
       413},
      {"submission by GET", [&] { return client.Get("/submit.php?" + good); }, 404},
      {"good query",
       [&] { return client.Get("/get.php?format=GM&script_name=G&script_version=1.0&params=&from=1&to=5&dev=0"); },
       200},
      {"no format", [&] { return client.Get("/get.php?script_name=G&script_version=1.0&params=&from=1&to=5"); }, 400},
      {"words for ranks",
       [&] { return client.Get("/get.php?format=GM&script_name=G&script_version=1.0&params=&from=one&to=5"); }, 400},
      {"bad UTF-8",
       [&] { return client.Get("/get.php?format=GM&script_name=%C0%AF&script_version=1.0&params=&from=1&to=5"); }, 400},
      {"unknown path", [&] { return client.Get("/admin"); }, 404},
  };
  for (const Case& c : cases) {
    httplib::Result result = c.send();
    ASSERT_TRUE(result) << c.label;
    EXPECT_EQ(result->status, c.status) << c.label << ": " << result->body;
    if (c.status == 200) continue;
    // An error never looks like an answer the player would act on.
    EXPECT_NE(result->body.compare(0, 2, "OK"), 0) << c.label;
    EXPECT_NE(result->body.compare(0, 1, "{"), 0) << c.label;
  }
  httplib::Result rows = client.Get("/get.php?format=GM&script_name=G&script_version=1.0&params=&from=1&to=5&dev=0");
  ASSERT_TRUE(rows);
  EXPECT_NE(rows->body.find("{rank = 1, player = `Ann`"), std::string::npos) << rows->body;
  EXPECT_EQ(rows->body.find("rank = 2"), std::string::npos) << "only the good submission was stored";
}

TEST(ScoreServer, RateLimitAndCleanStop) {
  TempDir dir;
  Process server({"--database", dir.path + "/scores.db", "--rate", "0.01"});
  ASSERT_GT(server.port, 0);
  httplib::Client client = server.Client();
  httplib::Result first = client.Get("/");
  httplib::Result second = client.Get("/");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->status, 200);
  EXPECT_EQ(second->status, 429);
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

// A store that fails (here its table vanished under it) is an error to the player, never
// an "OK" for a score that was not kept.
TEST(ScoreServer, StoreFailureIsAnError) {
  TempDir dir;
  const std::string database = dir.path + "/scores.db";
  Process server({"--database", database, "--rate", "0"});
  ASSERT_GT(server.port, 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE scores", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  httplib::Client client = server.Client();
  httplib::Result submit =
      client.Post("/submit.php", scoTest::SubmitBody("G", "Ann", "1"), "application/x-www-form-urlencoded");
  httplib::Result query = client.Get("/get.php?format=GM&script_name=G&script_version=1.0&params=&from=1&to=5");
  ASSERT_TRUE(submit && query);
  EXPECT_EQ(submit->status, 503);
  EXPECT_EQ(query->status, 503);
  EXPECT_EQ(submit->body, "error: scores are unavailable\n");
  EXPECT_EQ(server.Stop(SIGTERM), 0);
}

TEST(ScoreServer, BadCommandLinesExitWithAnError) {
  TempDir dir;
  const std::vector<std::string> cases[] = {
      {"--bogus"},
      {"--rate"},
      {"--rate", "-1"},
      {"--rate", "fast"},
      {"--connections", "-1"},
      {"--trust-proxy", "proxy.example"},
      {"--listen", "127.0.0.1"},
      {"--listen", "127.0.0.1:99999"},
      {"--database", dir.path + "/missing/scores.db"},
      {"--database", dir.path + "/scores.db", "--checksums", dir.path + "/missing.txt"},
  };
  for (const std::vector<std::string>& args : cases) {
    Process server(args);
    EXPECT_EQ(server.port, -1) << args[0];
    EXPECT_EQ(server.Stop(SIGKILL), 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

// Every submission the server answered OK is in the database after a SIGKILL, whatever
// was in flight at that moment.
TEST(ScoreServer, KilledUnderLoadKeepsWhatItAnswered) {
  TempDir dir;
  const std::string database = dir.path + "/scores.db";
  auto server =
      std::make_unique<Process>(std::vector<std::string>{"--database", database, "--rate", "0", "--connections", "0"});
  ASSERT_GT(server->port, 0);

  std::mutex lock;
  std::condition_variable progress;
  std::set<std::string> answered;
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int k = 0; k < 8; ++k)
    clients.emplace_back([&, k] {
      httplib::Client client = server->Client();
      for (int i = 0; !stop; ++i) {
        const std::string name = "p" + std::to_string(k) + "-" + std::to_string(i);
        httplib::Result r = client.Post("/submit.php", scoTest::SubmitBody("Load", name, std::to_string(i) + ".5"),
                                        "application/x-www-form-urlencoded");
        if (!r) break;  // the server is gone
        if (r->status == 200 && r->body.compare(0, 3, "OK ") == 0) {
          std::lock_guard<std::mutex> held(lock);
          answered.insert(name);
          progress.notify_all();
        }
      }
    });
  {
    std::unique_lock<std::mutex> held(lock);
    ASSERT_TRUE(progress.wait_for(held, std::chrono::seconds(60), [&] { return answered.size() >= 300; }));
  }
  EXPECT_EQ(server->Stop(SIGKILL), 128 + SIGKILL);
  stop = true;
  for (std::thread& t : clients) t.join();

  std::unique_ptr<scoStore> store = scoStore::Open(database);
  std::set<std::string> kept;
  for (const scoRow& row : store->Rows(scoTable{"Load", "1.0", "", false}, 1, 1'000'000)) kept.insert(row.player);
  for (const std::string& name : answered) EXPECT_TRUE(kept.count(name)) << name << " was answered OK but is lost";
  EXPECT_GE(kept.size(), answered.size());
}

// Two instances share one PostgreSQL database: what one stores, the other serves.
TEST(ScoreServer, InstancesShareOnePostgresDatabase) {
  const std::string url = scoTest::PostgresUrl();
  if (url.empty()) GTEST_SKIP() << "no PostgreSQL server (run through ctest)";
  Process a({"--database", url, "--rate", "0"});
  Process b({"--database", url, "--rate", "0"});
  ASSERT_GT(a.port, 0);
  ASSERT_GT(b.port, 0);
  const std::string game = "Shared" + std::to_string(::getpid());
  const std::string hostile = "\"); sysCollectGarbage(); (\" `x` ' OR 1=1 --";
  httplib::Client ca = a.Client(), cb = b.Client();
  httplib::Result r1 =
      ca.Post("/submit.php", scoTest::SubmitBody(game, hostile, "5"), "application/x-www-form-urlencoded");
  httplib::Result r2 =
      cb.Post("/submit.php", scoTest::SubmitBody(game, "Bob", "7"), "application/x-www-form-urlencoded");
  ASSERT_TRUE(r1 && r2);
  EXPECT_EQ(r1->body, "OK 1");
  EXPECT_EQ(r2->body, "OK 1");
  for (httplib::Client* c : {&ca, &cb}) {
    httplib::Result q =
        c->Get("/get.php?format=GM&script_name=" + game + "&script_version=1.0&params=&from=1&to=10&dev=0");
    ASSERT_TRUE(q);
    EXPECT_NE(q->body.find("{rank = 1, player = `Bob`"), std::string::npos) << q->body;
    EXPECT_NE(q->body.find("{rank = 2, player = `\"); sysCollectGarbage(); (\" ``x`` ' OR 1=1 --`"), std::string::npos)
        << q->body;
  }
  EXPECT_EQ(a.Stop(SIGINT), 0);
  EXPECT_EQ(b.Stop(SIGTERM), 0);
}

// Sixteen clients submit equal scores at once through two instances: each submission
// ranks after every one committed before it, so the ranks told are exactly 1..N, none
// twice (without a lock per table, two concurrent submissions each count without the
// other and are told the same rank).
TEST(ScoreServer, ConcurrentPostgresSubmissionsGetDistinctRanks) {
  const std::string url = scoTest::PostgresUrl();
  if (url.empty()) GTEST_SKIP() << "no PostgreSQL server (run through ctest)";
  // All the clients are this machine: one address, more connections than one may hold.
  Process a({"--database", url, "--rate", "0", "--connections", "0"});
  Process b({"--database", url, "--rate", "0", "--connections", "0"});
  ASSERT_GT(a.port, 0);
  ASSERT_GT(b.port, 0);
  const std::string game = "Race" + std::to_string(::getpid());
  constexpr int kClients = 16, kEach = 12;
  std::mutex lock;
  std::vector<long long> ranks;
  std::vector<std::thread> clients;
  for (int k = 0; k < kClients; ++k)
    clients.emplace_back([&, k] {
      httplib::Client client = (k % 2 ? a : b).Client();
      for (int i = 0; i < kEach; ++i) {
        httplib::Result r = client.Post("/submit.php", scoTest::SubmitBody(game, "p" + std::to_string(k), "7"),
                                        "application/x-www-form-urlencoded");
        std::lock_guard<std::mutex> held(lock);
        ranks.push_back(r && r->status == 200 && r->body.compare(0, 3, "OK ") == 0 ? std::atoll(r->body.c_str() + 3)
                                                                                   : -1);
      }
    });
  for (std::thread& t : clients) t.join();
  std::sort(ranks.begin(), ranks.end());
  std::vector<long long> expected(kClients * kEach);
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = (long long)i + 1;
  EXPECT_EQ(ranks, expected);
}

}  // namespace
