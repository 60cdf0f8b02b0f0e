// The embedded store: one SQLite file in WAL mode, so queries read while submissions
// write. Each thread borrows a connection of its own from a pool. Submissions are committed
// in groups by one thread at a time, on an in-process lock: cheaper than contending for
// SQLite's file lock (the busy timeout still covers another process on the same file), and
// one sync of the log then answers a whole group.
#include "server/scoStore.h"

#include <sqlite3.h>

#include <ctime>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS scores ("
    " id INTEGER PRIMARY KEY,"
    " script_name TEXT NOT NULL, script_version TEXT NOT NULL, params TEXT NOT NULL,"
    " dev INTEGER NOT NULL, player TEXT NOT NULL, score REAL NOT NULL, time INTEGER NOT NULL,"
    " user_time INTEGER NOT NULL, checksum TEXT NOT NULL, engine_version TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS scores_rank ON scores"
    " (script_name, script_version, params, dev, score DESC, time, id);";

const char* const kTableWhere = "script_name = ?1 AND script_version = ?2 AND params = ?3 AND dev = ?4";

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v3(db, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* stmt = nullptr;
};

// Resets the statement however the scope is left, so a failed step never leaves a read
// transaction open on a pooled connection.
struct Use {
  explicit Use(Statement& s) : stmt(s.stmt) {}
  ~Use() {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
  }
  sqlite3_stmt* stmt;
};

class Connection {
 public:
  explicit Connection(const std::string& path) {
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      sqlite3_close(db);
      throw std::runtime_error("sqlite: cannot open " + path + ": " + message);
    }
    try {
      Setup();
    } catch (...) {
      sqlite3_close(db);
      throw;
    }
  }

  void Setup() {
    sqlite3_busy_timeout(db, 5000);
    // A process killed right after an answer would lose nothing in WAL mode with NORMAL:
    // the commit is in the log file before the answer. FULL adds a sync per commit, so an
    // answered score survives a power loss too; group commit keeps its cost down.
    Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
    Exec(kSchema);
    insert = std::make_unique<Statement>(db,
                                         "INSERT INTO scores (script_name, script_version, params, dev, player,"
                                         " score, time, user_time, checksum, engine_version)"
                                         " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    rank = std::make_unique<Statement>(db, std::string("SELECT COUNT(*) FROM scores WHERE ") + kTableWhere +
                                               " AND (score > ?5 OR (score = ?5 AND (time < ?6 OR"
                                               " (time = ?6 AND id < ?7))))");
    rows = std::make_unique<Statement>(db, std::string("SELECT player, score, time FROM scores WHERE ") + kTableWhere +
                                               " ORDER BY score DESC, time, id LIMIT ?5 OFFSET ?6");
    games = std::make_unique<Statement>(db,
                                        "SELECT script_name, script_version, params, dev, COUNT(*)"
                                        " FROM scores WHERE dev <= ?1 GROUP BY script_name, script_version,"
                                        " params, dev ORDER BY script_name, script_version, params, dev");
  }
  ~Connection() {
    insert.reset();
    rank.reset();
    rows.reset();
    games.reset();
    sqlite3_close(db);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : sqlite3_errmsg(db);
      sqlite3_free(error);
      throw std::runtime_error("sqlite: " + message);
    }
  }

  void Fail() { throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db)); }

  void BindTable(sqlite3_stmt* s, const scoTable& t) {
    sqlite3_bind_text(s, 1, t.scriptName.data(), int(t.scriptName.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, t.scriptVersion.data(), int(t.scriptVersion.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, t.params.data(), int(t.params.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 4, t.dev ? 1 : 0);
  }

  sqlite3* db = nullptr;
  std::unique_ptr<Statement> insert, rank, rows, games;
};

std::string Text(sqlite3_stmt* s, int column) {
  const unsigned char* text = sqlite3_column_text(s, column);
  return text ? std::string(reinterpret_cast<const char*>(text), size_t(sqlite3_column_bytes(s, column)))
              : std::string();
}

class SqliteStore : public scoStore {
 public:
  explicit SqliteStore(std::string a_path) : path(std::move(a_path)) { Release(Acquire()); }

  // Group commit: every submission queues itself, and whichever holds the writer lock
  // commits all that are queued in one transaction, so one sync of the log serves them
  // all. A submission that finds its work done when it gets the lock only reads its result.
  long long Submit(const scoTable& table, const scoEntry& entry) override {
    Pending mine{&table, &entry, 0, false, nullptr};
    {
      std::lock_guard<std::mutex> held(queueLock);
      queue.push_back(&mine);
    }
    std::lock_guard<std::mutex> writing(writer);
    std::vector<Pending*> batch;
    {
      std::lock_guard<std::mutex> held(queueLock);
      if (!mine.done) batch.swap(queue);
    }
    if (!batch.empty()) Commit(batch);
    if (mine.error) std::rethrow_exception(mine.error);
    return mine.rank;
  }

  std::vector<scoRow> Rows(const scoTable& table, long long from, long long to) override {
    std::vector<scoRow> out;
    if (from < 1 || to < from) return out;
    Lease c(*this);
    Use u(*c->rows);
    sqlite3_stmt* s = u.stmt;
    c->BindTable(s, table);
    sqlite3_bind_int64(s, 5, to - from + 1);
    sqlite3_bind_int64(s, 6, from - 1);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      scoRow row;
      row.rank = from + (long long)out.size();
      row.player = Text(s, 0);
      row.score = sqlite3_column_double(s, 1);
      row.time = sqlite3_column_int64(s, 2);
      out.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) c->Fail();
    return out;
  }

  std::vector<scoGame> Games(bool dev) override {
    std::vector<scoGame> out;
    Lease c(*this);
    Use u(*c->games);
    sqlite3_stmt* s = u.stmt;
    sqlite3_bind_int(s, 1, dev ? 1 : 0);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      scoGame game;
      game.table.scriptName = Text(s, 0);
      game.table.scriptVersion = Text(s, 1);
      game.table.params = Text(s, 2);
      game.table.dev = sqlite3_column_int(s, 3) != 0;
      game.count = sqlite3_column_int64(s, 4);
      out.push_back(std::move(game));
    }
    if (rc != SQLITE_DONE) c->Fail();
    return out;
  }

 private:
  struct Pending {
    const scoTable* table;
    const scoEntry* entry;
    long long rank = 0;
    bool done = false;  // guarded by queueLock
    std::exception_ptr error;
  };

  std::string path;
  std::mutex writer;  // held by the one thread committing a batch
  std::mutex queueLock;
  std::vector<Pending*> queue;
  std::mutex poolLock;
  std::vector<std::unique_ptr<Connection>> idle;

  void Commit(const std::vector<Pending*>& batch) {
    std::exception_ptr failure;
    {
      Lease c(*this);
      try {
        c->Exec("BEGIN IMMEDIATE");
        try {
          for (Pending* p : batch) p->rank = Insert(*c.c, *p->table, *p->entry);
          c->Exec("COMMIT");
        } catch (...) {
          sqlite3_exec(c->db, "ROLLBACK", nullptr, nullptr, nullptr);
          throw;
        }
      } catch (...) {
        failure = std::current_exception();
      }
    }
    std::lock_guard<std::mutex> held(queueLock);
    for (Pending* p : batch) {
      p->error = failure;
      p->done = true;
    }
  }

  // Inside the batch's transaction: the rank counts the rows committed before and the
  // ones this batch inserted ahead of it.
  static long long Insert(Connection& c, const scoTable& table, const scoEntry& entry) {
    // Read under the writer lock, so times follow the order of the commits.
    const long long time = entry.timeAtCommit ? (long long)std::time(nullptr) : entry.time;
    long long id;
    {
      Use u(*c.insert);
      sqlite3_stmt* s = u.stmt;
      c.BindTable(s, table);
      sqlite3_bind_text(s, 5, entry.player.data(), int(entry.player.size()), SQLITE_TRANSIENT);
      sqlite3_bind_double(s, 6, entry.score);
      sqlite3_bind_int64(s, 7, time);
      sqlite3_bind_int64(s, 8, entry.userTime);
      sqlite3_bind_text(s, 9, entry.checksum.data(), int(entry.checksum.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(s, 10, entry.engineVersion.data(), int(entry.engineVersion.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(s) != SQLITE_DONE) c.Fail();
      id = sqlite3_last_insert_rowid(c.db);
    }
    Use u(*c.rank);
    sqlite3_stmt* s = u.stmt;
    c.BindTable(s, table);
    sqlite3_bind_double(s, 5, entry.score);
    sqlite3_bind_int64(s, 6, time);
    sqlite3_bind_int64(s, 7, id);
    if (sqlite3_step(s) != SQLITE_ROW) c.Fail();
    return sqlite3_column_int64(s, 0) + 1;
  }

  std::unique_ptr<Connection> Acquire() {
    {
      std::lock_guard<std::mutex> lock(poolLock);
      if (!idle.empty()) {
        std::unique_ptr<Connection> c = std::move(idle.back());
        idle.pop_back();
        return c;
      }
    }
    return std::make_unique<Connection>(path);
  }
  void Release(std::unique_ptr<Connection> c) {
    std::lock_guard<std::mutex> lock(poolLock);
    idle.push_back(std::move(c));
  }

  struct Lease {
    explicit Lease(SqliteStore& a_store) : store(a_store), c(a_store.Acquire()) {}
    ~Lease() { store.Release(std::move(c)); }
    Connection* operator->() { return c.get(); }
    SqliteStore& store;
    std::unique_ptr<Connection> c;
  };
};

}  // namespace

std::unique_ptr<scoStore> scoOpenSqlite(const std::string& path) { return std::make_unique<SqliteStore>(path); }
