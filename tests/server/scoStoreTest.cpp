// The store's behaviour, the same on both backends: SQLite in a temporary file and the
// PostgreSQL server that the test command starts (its URL in OMBRIX_TEST_POSTGRES).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "server/scoStore.h"
#include "tests/server/scoTestServer.h"

namespace {

class StoreTest : public testing::TestWithParam<const char*> {
 protected:
  scoTest::TempDir dir;
  std::string database;
  std::unique_ptr<scoStore> store;

  void SetUp() override {
    if (std::string(GetParam()) == "sqlite")
      database = dir.path + "/scores.db";
    else {
      database = scoTest::PostgresUrl();
      if (database.empty()) GTEST_SKIP() << "no PostgreSQL server (run through ctest)";
    }
    store = scoStore::Open(database);
    // Every test uses tables of its own, so a shared PostgreSQL database needs no cleaning.
    prefix = testing::UnitTest::GetInstance()->current_test_info()->name();
    prefix += std::to_string(::getpid()) + "/";
  }

  scoTable Table(const std::string& name, bool dev = false, const std::string& version = "1",
                 const std::string& params = "") {
    return scoTable{prefix + name, version, params, dev};
  }

  static scoEntry Entry(const std::string& player, double score, long long time) {
    scoEntry e;
    e.player = player;
    e.score = score;
    e.time = time;
    e.checksum = "ABC";
    return e;
  }

  static std::vector<std::string> Players(const std::vector<scoRow>& rows) {
    std::vector<std::string> out;
    for (const scoRow& r : rows) out.push_back(std::to_string(r.rank) + ":" + r.player);
    return out;
  }

  std::string prefix;
};

// Higher score first, then the earlier time, then the earlier submission; each answer is
// the rank at the moment of the commit.
TEST_P(StoreTest, RanksAndOrder) {
  scoTable t = Table("order");
  struct Step {
    const char* player;
    double score;
    long long time;
    long long rank;
  };
  const Step steps[] = {
      {"a", 10, 100, 1}, {"b", 20, 100, 1},    {"c", 10, 50, 2}, {"d", 10, 100, 4},
      {"e", -5, 1, 5},   {"f", 1e300, 200, 1}, {"g", 10, 50, 4},
  };
  for (const Step& s : steps) EXPECT_EQ(store->Submit(t, Entry(s.player, s.score, s.time)), s.rank) << s.player;
  EXPECT_EQ(Players(store->Rows(t, 1, 100)),
            (std::vector<std::string>{"1:f", "2:b", "3:c", "4:g", "5:a", "6:d", "7:e"}));
  EXPECT_EQ(Players(store->Rows(t, 3, 4)), (std::vector<std::string>{"3:c", "4:g"}));
  EXPECT_EQ(Players(store->Rows(t, 7, 9)), (std::vector<std::string>{"7:e"}));
  EXPECT_TRUE(store->Rows(t, 8, 10).empty());
  EXPECT_TRUE(store->Rows(t, 3, 2).empty());
  std::vector<scoRow> top = store->Rows(t, 1, 1);
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].score, 1e300);
  EXPECT_EQ(top[0].time, 200);
}

// A table is the script name, version and params, and developer scores are kept apart.
TEST_P(StoreTest, TablesAreApart) {
  const scoTable tables[] = {Table("g"), Table("g", true), Table("g", false, "2"), Table("g", false, "1", "hard"),
                             Table("h")};
  // Table i gets i + 1 scores, each higher than the last: in a table of its own each
  // ranks first, whatever the other tables hold.
  for (size_t i = 0; i < std::size(tables); ++i)
    for (size_t k = 0; k <= i; ++k)
      EXPECT_EQ(store->Submit(tables[i], Entry("p" + std::to_string(k), double(k), 1)), 1) << i << " " << k;
  for (size_t i = 0; i < std::size(tables); ++i) {
    std::vector<scoRow> rows = store->Rows(tables[i], 1, 100);
    ASSERT_EQ(rows.size(), i + 1) << i;
    EXPECT_EQ(rows[0].player, "p" + std::to_string(i));
  }
}

TEST_P(StoreTest, TextIsKeptByteForByteAndGamesAreListed) {
  const std::string names[] = {"\"); sysCollectGarbage(); (\"", "`x`` y", "<script>alert(1)</script>",
                               "\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x8e\xae", "' OR 1=1; DROP TABLE scores; --"};
  scoTable t = Table("text", false, "v'1", "p\"&<");
  for (size_t i = 0; i < std::size(names); ++i) store->Submit(t, Entry(names[i], double(100 - i), 1));
  std::vector<scoRow> rows = store->Rows(t, 1, 10);
  ASSERT_EQ(rows.size(), std::size(names));
  for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].player, names[i]);

  store->Submit(Table("text", true), Entry("dev", 1, 1));
  int seen = 0, seenDev = 0;
  for (bool dev : {false, true})
    for (const scoGame& g : store->Games(dev))
      if (g.table.scriptName == prefix + "text") {
        (g.table.dev ? seenDev : seen)++;
        if (!g.table.dev) {
          EXPECT_EQ(g.table.scriptVersion, "v'1");
          EXPECT_EQ(g.table.params, "p\"&<");
          EXPECT_EQ(g.count, static_cast<long long>(std::size(names)));
        }
      }
  EXPECT_EQ(seen, 2);     // once per listing
  EXPECT_EQ(seenDev, 1);  // only when developer tables are asked for
}

// Concurrent submissions each get a distinct rank and all of them are kept; a reopened
// store sees them.
TEST_P(StoreTest, ConcurrentSubmissionsAreAllKept) {
  scoTable t = Table("busy");
  std::vector<std::thread> threads;
  std::mutex lock;
  std::multiset<long long> ranks;
  for (int k = 0; k < 8; ++k)
    threads.emplace_back([&, k] {
      for (int i = 0; i < 25; ++i) {
        long long rank = store->Submit(t, Entry("p", double(k * 100 + i), 1));
        std::lock_guard<std::mutex> held(lock);
        ranks.insert(rank);
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(ranks.size(), 200u);
  store.reset();
  store = scoStore::Open(database);
  std::vector<scoRow> rows = store->Rows(t, 1, 1000);
  ASSERT_EQ(rows.size(), 200u);
  for (size_t i = 1; i < rows.size(); ++i) EXPECT_GT(rows[i - 1].score, rows[i].score);
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreTest, testing::Values("sqlite", "postgres"),
                         [](const testing::TestParamInfo<const char*>& a_info) { return std::string(a_info.param); });

TEST(Store, UnusableDatabasesThrow) {
  EXPECT_ANY_THROW(scoStore::Open("/nonexistent-folder/scores.db"));
  EXPECT_ANY_THROW(scoStore::Open("postgresql:///none?host=/nonexistent-folder&connect_timeout=2"));
}

}  // namespace
