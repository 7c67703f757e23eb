// The benchmark's yardstick: the least an ODBC client can do to send a
// statement stream. Replays a stand-in journal (one statement per line, as
// the stand-in writes it) through a DSN: per statement one handle
// allocated, SQLExecDirect, SQLRowCount, the handle freed, nothing else.
// Whatever a statement answers, the next one follows, so a stream that
// contains expected failures (IDN's side-table inserts) replays whole.
//
//   raw_replay DSN USER PASSWORD JOURNAL
//
// Prints "<statements> statements, <failed> failed"; exit 0 when the stream
// was sent, 1 when the connect failed or the journal cannot be read, 2 for a
// wrong command line.
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

SQLCHAR* Text(const std::string& s) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str())); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: raw_replay DSN USER PASSWORD JOURNAL\n");
    return 2;
  }
  // The whole stream is read first, so the loop below is nothing but ODBC.
  std::ifstream in(argv[4], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "raw_replay: cannot read %s\n", argv[4]);
    return 1;
  }
  std::vector<std::string> statements;
  for (std::string line; std::getline(in, line);) statements.push_back(std::move(line));

  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env) == SQL_ERROR) return 1;
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc) == SQL_ERROR) {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 1;
  }
  const std::string dsn = argv[1], user = argv[2], password = argv[3];
  if (!SQL_SUCCEEDED(SQLConnect(dbc, Text(dsn), SQL_NTS, Text(user), SQL_NTS, Text(password), SQL_NTS))) {
    SQLCHAR state[6] = {0};
    SQLCHAR message[512] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLGetDiagRec(SQL_HANDLE_DBC, dbc, 1, state, &native, message, sizeof message, &length);
    std::fprintf(stderr, "raw_replay: connect to %s failed: [%s] %d %s\n", argv[1],
                 reinterpret_cast<const char*>(state), static_cast<int>(native),
                 reinterpret_cast<const char*>(message));
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 1;
  }

  long failed = 0;
  for (const std::string& sql : statements) {
    SQLHSTMT st = SQL_NULL_HSTMT;
    if (SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st) == SQL_ERROR) {
      ++failed;
      continue;
    }
    SQLRETURN rc = SQLExecDirect(st, Text(sql), SQL_NTS);
    if (rc == SQL_ERROR) ++failed;
    SQLLEN rows = 0;
    SQLRowCount(st, &rows);
    SQLFreeHandle(SQL_HANDLE_STMT, st);
  }

  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::printf("%zu statements, %ld failed\n", statements.size(), failed);
  return 0;
}
