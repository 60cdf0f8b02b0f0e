#include "server/scoStore.h"

std::unique_ptr<scoStore> scoStore::Open(const std::string& database) {
  if (database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0)
    return scoOpenPostgres(database);
  return scoOpenSqlite(database);
}
