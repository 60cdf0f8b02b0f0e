#ifndef SCOSTORE_H
#define SCOSTORE_H

#include <memory>
#include <string>
#include <vector>

// One score table: the scores of one game build's mode. Developer-mode submissions (the
// package checksum "dev") form tables of their own, so testing never pollutes the real ones.
struct scoTable {
  std::string scriptName;
  std::string scriptVersion;
  std::string params;
  bool dev = false;
};

struct scoEntry {
  std::string player;
  double score = 0.0;
  long long time = 0;  // server clock at submission, seconds since 1970; breaks ties
  // The store reads `time` from its own clock once it holds the table, so equal scores
  // rank in the order they were committed whichever server instance took them. The server
  // sets it; callers that give exact times do not.
  bool timeAtCommit = false;
  long long userTime = 0;  // what the player's clock said; kept, never trusted for ranking
  std::string checksum;
  std::string engineVersion;
};

struct scoRow {
  long long rank = 0;
  std::string player;
  double score = 0.0;
  long long time = 0;
};

struct scoGame {
  scoTable table;
  long long count = 0;
};

// Where scores live. Order within a table: higher score first, then earlier time, then
// earlier submission, so every row has one rank and ranks never tie. Implementations are
// safe to call from many threads at once and hold no state that another server process
// against the same database would need: all of it is in the database.
// Failures throw std::exception; the HTTP layer turns them into an error status.
class scoStore {
 public:
  virtual ~scoStore() = default;

  // Commits the entry and returns its rank (from 1) in its table as of the commit; the
  // rank is returned only once the row is durable. Concurrent submissions to one table,
  // from any number of server instances, are told distinct ranks.
  virtual long long Submit(const scoTable& table, const scoEntry& entry) = 0;

  // Rows ranked from..to (from 1, inclusive), in rank order.
  virtual std::vector<scoRow> Rows(const scoTable& table, long long from, long long to) = 0;

  // Every table that has scores, with its count; developer tables only when asked for.
  virtual std::vector<scoGame> Games(bool dev) = 0;

  // "postgresql://..." (or "postgres://...") opens PostgreSQL, anything else is the path
  // of a SQLite file, made when missing. The schema is created when it does not exist.
  static std::unique_ptr<scoStore> Open(const std::string& database);
};

std::unique_ptr<scoStore> scoOpenSqlite(const std::string& path);
std::unique_ptr<scoStore> scoOpenPostgres(const std::string& url);

#endif
