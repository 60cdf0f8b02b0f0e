// The store for more than one machine: every server instance keeps a few connections to
// one PostgreSQL database and nothing else, so instances can be added or removed freely.
#include "server/scoStore.h"

#include <pqxx/pqxx>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Instances starting together all run this; the advisory lock lets one create the schema
// while the others wait, where IF NOT EXISTS alone can still collide in the catalog.
const char* const kSchema =
    "SELECT pg_advisory_xact_lock(4242001);"
    "CREATE TABLE IF NOT EXISTS scores ("
    " id BIGSERIAL PRIMARY KEY,"
    " script_name TEXT NOT NULL, script_version TEXT NOT NULL, params TEXT NOT NULL,"
    " dev BOOLEAN NOT NULL, player TEXT NOT NULL, score DOUBLE PRECISION NOT NULL, time BIGINT NOT NULL,"
    " user_time BIGINT NOT NULL, checksum TEXT NOT NULL, engine_version TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS scores_rank ON scores"
    " (script_name, script_version, params, dev, score DESC, time, id);";

const char* const kTableWhere = "script_name = $1 AND script_version = $2 AND params = $3 AND dev = $4";

// Connections kept per instance; a request waits for one when all are busy, which bounds
// what one instance can ask of the database however many clients it serves.
constexpr size_t kMaxConnections = 16;

class PostgresStore : public scoStore {
 public:
  explicit PostgresStore(std::string a_url) : url(std::move(a_url)) {
    Lease c(*this);
    pqxx::work w(*c);
    w.exec(kSchema);
    w.commit();
  }

  long long Submit(const scoTable& t, const scoEntry& e) override {
    Lease c(*this);
    pqxx::work w(*c);
    // One submission per table at a time, across every instance: the count then sees every
    // row committed before this one and none committed after, so the rank is the row's
    // place at its commit. Under READ COMMITTED without it, two submissions each count
    // without the other and can both be told the same rank. Fields never hold control
    // characters, so the separator keeps distinct tables' keys distinct; tables whose
    // hashes collide only wait for each other.
    w.exec_params(
        "SELECT pg_advisory_xact_lock(hashtextextended(concat_ws(chr(31), $1::text, $2::text, $3::text, "
        "$4::boolean::text), 0))",
        t.scriptName, t.scriptVersion, t.params, t.dev);
    pqxx::result inserted = w.exec_params(
        "INSERT INTO scores (script_name, script_version, params, dev, player, score, time, user_time, checksum,"
        " engine_version) VALUES ($1, $2, $3, $4, $5, $6,"
        " CASE WHEN $11::boolean THEN FLOOR(EXTRACT(EPOCH FROM clock_timestamp()))::BIGINT ELSE $7 END,"
        " $8, $9, $10) RETURNING id, time",
        t.scriptName, t.scriptVersion, t.params, t.dev, e.player, e.score, e.time, e.userTime, e.checksum,
        e.engineVersion, e.timeAtCommit);
    long long id = inserted[0][0].as<long long>();
    long long time = inserted[0][1].as<long long>();
    pqxx::result counted = w.exec_params(std::string("SELECT COUNT(*) FROM scores WHERE ") + kTableWhere +
                                             " AND (score > $5 OR (score = $5 AND (time < $6 OR"
                                             " (time = $6 AND id < $7))))",
                                         t.scriptName, t.scriptVersion, t.params, t.dev, e.score, time, id);
    long long rank = counted[0][0].as<long long>() + 1;
    w.commit();
    return rank;
  }

  std::vector<scoRow> Rows(const scoTable& t, long long from, long long to) override {
    std::vector<scoRow> out;
    if (from < 1 || to < from) return out;
    Lease c(*this);
    pqxx::nontransaction r(*c);  // one statement: no BEGIN and COMMIT round trips
    pqxx::result rows = r.exec_params(std::string("SELECT player, score, time FROM scores WHERE ") + kTableWhere +
                                          " ORDER BY score DESC, time, id LIMIT $5 OFFSET $6",
                                      t.scriptName, t.scriptVersion, t.params, t.dev, to - from + 1, from - 1);
    for (const pqxx::row& row : rows) {
      scoRow s;
      s.rank = from + (long long)out.size();
      s.player = row[0].as<std::string>();
      s.score = row[1].as<double>();
      s.time = row[2].as<long long>();
      out.push_back(std::move(s));
    }
    return out;
  }

  std::vector<scoGame> Games(bool dev) override {
    std::vector<scoGame> out;
    Lease c(*this);
    pqxx::nontransaction r(*c);  // one statement: no BEGIN and COMMIT round trips
    pqxx::result rows = r.exec_params(
        "SELECT script_name, script_version, params, dev, COUNT(*) FROM scores WHERE (NOT dev OR $1)"
        " GROUP BY script_name, script_version, params, dev ORDER BY script_name, script_version, params, dev",
        dev);
    for (const pqxx::row& row : rows) {
      scoGame g;
      g.table.scriptName = row[0].as<std::string>();
      g.table.scriptVersion = row[1].as<std::string>();
      g.table.params = row[2].as<std::string>();
      g.table.dev = row[3].as<bool>();
      g.count = row[4].as<long long>();
      out.push_back(std::move(g));
    }
    return out;
  }

 private:
  std::string url;
  std::mutex lock;
  std::condition_variable freed;
  std::vector<std::unique_ptr<pqxx::connection>> idle;
  size_t open = 0;

  std::unique_ptr<pqxx::connection> Acquire() {
    std::unique_lock<std::mutex> held(lock);
    freed.wait(held, [this] { return !idle.empty() || open < kMaxConnections; });
    if (!idle.empty()) {
      std::unique_ptr<pqxx::connection> c = std::move(idle.back());
      idle.pop_back();
      return c;
    }
    ++open;
    held.unlock();
    try {
      return std::make_unique<pqxx::connection>(url);
    } catch (...) {
      Dropped();
      throw;
    }
  }

  void Dropped() {
    std::lock_guard<std::mutex> held(lock);
    --open;
    freed.notify_one();
  }

  // A connection that broke (the database restarted, say) is dropped, not pooled, so the
  // next request opens a fresh one.
  void Release(std::unique_ptr<pqxx::connection> c) {
    if (!c->is_open()) {
      c.reset();
      Dropped();
      return;
    }
    std::lock_guard<std::mutex> held(lock);
    idle.push_back(std::move(c));
    freed.notify_one();
  }

  struct Lease {
    explicit Lease(PostgresStore& a_store) : store(a_store), c(a_store.Acquire()) {}
    ~Lease() { store.Release(std::move(c)); }
    pqxx::connection& operator*() { return *c; }
    PostgresStore& store;
    std::unique_ptr<pqxx::connection> c;
  };
};

}  // namespace

std::unique_ptr<scoStore> scoOpenPostgres(const std::string& url) { return std::make_unique<PostgresStore>(url); }
