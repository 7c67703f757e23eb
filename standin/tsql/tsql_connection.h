// The translator's state of one SQLite connection: its catalog and its
// statement cache, found by the connection's handle. Setup creates it with
// the collation TSQL, whose destructor (SQLite calls it when the connection
// closes) ends it.
#pragma once

#include <sqlite3.h>

#include <mutex>

#include "sql_types.h"
#include "tsql_cache.h"
#include "tsql_catalog.h"

namespace tsql {

// The translator's state of one SQLite connection.
struct Connection {
  sqlite3* db = nullptr;
  std::mutex mu;  // one translation at a time
  Catalog catalog;
  bool stale = true;     // reload before the next use
  StatementCache cache;  // translations of this catalog; cleared with every reload
};

// The state of `db`, created (with the collation and functions registered)
// by Setup; null when Setup has not run on `db`.
Connection* FindConnection(sqlite3* db);
// Registry of connections, used by Setup and by the collation's destructor
// that SQLite calls when the connection closes.
void RegisterConnection(Connection* c);
void UnregisterConnection(Connection* c);

// The state of `db`, set up first when Setup has not run on it.
Connection* Attach(sqlite3* db, Error& err);

// Marks the catalog of `db` stale (after DDL or an error that shows the
// schema changed under it).
void MarkStale(sqlite3* db);

}  // namespace tsql
