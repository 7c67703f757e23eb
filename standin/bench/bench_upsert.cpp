// Benchmark (not a test): an upsert stream through the unixODBC driver
// manager, once against the stand-in with the tool's own 20P statements and
// once against Debian's SQLite ODBC driver (libsqliteodbc) with the
// equivalent plain-SQLite statements, side by side in one run. Both
// databases run in WAL mode with synchronous=NORMAL.
//
// Each record is one UPDATE by primary key and, when it touched no row, one
// INSERT, each on a fresh statement handle (as the tool runs them). A round
// is a stream of new keys (UPDATE misses, INSERT) followed by the same keys
// again (UPDATE hits). Rounds alternate between the two drivers; the best
// round of each counts.
//
//   standin_bench [RECORDS [ROUNDS [SIDE]]]   defaults: 5000 records, 5 rounds
//
// SIDE (standin or peer) runs one side only, for a profiler (valgrind
// --tool=callgrind --toggle-collect='*Round*' counts the stream alone).
#include <sql.h>
#include <sqlext.h>
#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): mkdtemp and setenv are POSIX
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char* const kPeerDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

struct Side {
  const char* name;
  std::string dsn;
  bool standin;
};

bool Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
  if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) return true;
  SQLCHAR state[6] = {0};
  SQLCHAR message[512] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(type, h, 1, state, &native, message, sizeof message, &length);
  std::fprintf(stderr, "%s failed: %d [%s] %d %s\n", what, rc, state, static_cast<int>(native), message);
  return false;
}

// Runs one statement on a fresh handle; 100 when it touched no row.
int Run(SQLHDBC dbc, const std::string& sql) {
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st) == SQL_ERROR) return -1;
  SQLRETURN rc = SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  int result = 0;
  if (rc == SQL_NO_DATA) {
    result = 100;
  } else if (!Check(rc, SQL_HANDLE_STMT, st, sql.c_str())) {
    result = -1;
  } else {
    SQLLEN rows = -1;
    if (SQL_SUCCEEDED(SQLRowCount(st, &rows)) && rows == 0) result = 100;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  return result;
}

std::string Key(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "TRM%07d", i);
  return buf;
}

std::string Update(bool standin, const std::string& trm, const std::string& ofb) {
  if (standin) {
    return "UPDATE QvSystem.MGSST20P SET    M20Ofb = '" + ofb + "', M20Dat = CURRENT_TIMESTAMP WHERE  M20Trm = '" +
           trm + "' AND    M20Sch = '01' AND    M20Tg1 = '1' AND    M20Zz2 = '00001' AND    M20Ofv = '0800' ";
  }
  return "UPDATE MGSST20P SET M20Ofb = '" + ofb + "', M20Dat = CURRENT_TIMESTAMP WHERE M20Trm = '" + trm +
         "' AND M20Sch = '01' AND M20Tg1 = '1' AND M20Zz2 = '00001' AND M20Ofv = '0800'";
}

std::string Insert(bool standin, const std::string& trm, const std::string& ofb) {
  if (standin) {
    return "INSERT INTO QvSystem.MGSST20P    (M20Trm, M20Sch, M20Tg1,     M20Zz2, M20Ofv, M20Ofb,     M20Dat)  "
           "VALUES ('" +
           trm + "', '01', '1',          '00001', '0800', '" + ofb + "',           CURRENT_TIMESTAMP)";
  }
  return "INSERT INTO MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, M20Dat) VALUES ('" + trm +
         "', '01', '1', '00001', '0800', '" + ofb + "', CURRENT_TIMESTAMP)";
}

// One round on a fresh connection: the stream of new keys, then the same
// keys again. Returns microseconds per statement, or a negative number.
double Round(const Side& side, int records, int round) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  double result = -1;
  SQLRETURN rc = SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(side.dsn.c_str())), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("bench")), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>("bench")), SQL_NTS);
  if (Check(rc, SQL_HANDLE_DBC, dbc, "connect")) {
    long statements = 0;
    bool ok = true;
    auto start = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 2 && ok; ++pass) {
      std::string ofb = std::to_string(1000 + pass);
      for (int i = 0; i < records && ok; ++i) {
        std::string trm = Key(round * records + i);
        int r = Run(dbc, Update(side.standin, trm, ofb));
        ++statements;
        if (r == 100) {
          r = Run(dbc, Insert(side.standin, trm, ofb));
          ++statements;
        }
        ok = r == 0;
      }
    }
    auto end = std::chrono::steady_clock::now();
    if (ok) result = std::chrono::duration<double, std::micro>(end - start).count() / static_cast<double>(statements);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return result;
}

bool Setup(SQLHDBC dbc, const std::string& sql) { return Run(dbc, sql) >= 0; }

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 5000;
  int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string only = argc > 3 ? argv[3] : "";
  if (records <= 0 || rounds <= 0 || (!only.empty() && only != "standin" && only != "peer")) {
    std::fprintf(stderr, "usage: standin_bench [RECORDS [ROUNDS [standin|peer]]]\n");
    return 2;
  }
  std::string dir = (std::filesystem::temp_directory_path() / "standin_bench_XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) return 1;
  std::ofstream(dir + "/odbcinst.ini") << "[KranzelStandin]\nDriver = " << STANDIN_LIB << "\n\n"
                                       << "[SQLite3Peer]\nDriver = " << kPeerDriver << "\n";
  std::ofstream(dir + "/odbc.ini") << "[standin]\nDriver = KranzelStandin\nDatabase = " << dir << "/standin.sqlite\n\n"
                                   << "[peer]\nDriver = SQLite3Peer\nDatabase = " << dir
                                   << "/peer.sqlite\nJournalMode = WAL\nSyncPragma = NORMAL\nTimeout = 5000\n";
  setenv("ODBCSYSINI", dir.c_str(), 1);

  std::string create =
      std::string(STANDIN_TOOL) + " create " + dir + "/standin.sqlite " + KRANZEL_SOURCE_DIR + "/schema/qvsystem.sql";
  if (std::system(create.c_str()) != 0) {
    std::fprintf(stderr, "cannot create the stand-in database\n");
    return 1;
  }
  {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLRETURN rc =
        SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>("peer")), SQL_NTS, nullptr, 0, nullptr, 0);
    if (!Check(rc, SQL_HANDLE_DBC, dbc, "peer connect") ||
        !Setup(dbc,
               "CREATE TABLE MGSST20P (M20Trm varchar(255) NOT NULL, M20Sch varchar(2) NOT NULL, M20Tg1 varchar(1) "
               "NOT NULL, M20Zz2 varchar(5) NOT NULL, M20Ofv varchar(4) NOT NULL, M20Ofb varchar(4), M20Dat "
               "datetime, PRIMARY KEY (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv))")) {
      return 1;
    }
    // Show that the peer runs in WAL mode as configured.
    SQLHSTMT st = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    char mode[32] = "?";
    SQLLEN ind = 0;
    if (SQL_SUCCEEDED(
            SQLExecDirect(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>("PRAGMA journal_mode")), SQL_NTS)) &&
        SQL_SUCCEEDED(SQLFetch(st))) {
      SQLGetData(st, 1, SQL_C_CHAR, mode, sizeof mode, &ind);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    std::printf("peer journal mode: %s; %d records per stream, %d rounds\n", mode, records, rounds);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
  }

  Side sides[] = {{"stand-in (T-SQL)", "standin", true}, {"libsqliteodbc (SQLite SQL)", "peer", false}};
  double best[2] = {0, 0};
  for (int round = 0; round < rounds; ++round) {
    for (int s = 0; s < 2; ++s) {
      if (!only.empty() && only != sides[s].dsn) continue;
      double us = Round(sides[s], records, round);
      if (us < 0) return 1;
      std::printf("round %d  %-28s %8.2f us/statement\n", round + 1, sides[s].name, us);
      if (round == 0 || us < best[s]) best[s] = us;
    }
  }
  if (!only.empty()) return 0;
  double ratio = best[0] / best[1];
  std::printf("best     %-28s %8.2f us/statement\n", sides[0].name, best[0]);
  std::printf("best     %-28s %8.2f us/statement\n", sides[1].name, best[1]);
  std::printf("ratio    %.2f (goal: at most 0.7)\n", ratio);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
