// Test scaffolding for the stand-in's ODBC driver (see driver_test_util.h).
#include "standin/driver_test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace standin_test {

namespace {

std::atomic<int> dsnCounter{0};

}  // namespace

std::string ShellQuote(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::pair<int, std::string> RunCommand(const std::string& command, bool withStderr) {
  std::string full = command + (withStderr ? " 2>&1" : "");
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return {-1, std::string()};
  std::string out;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  int status = pclose(pipe);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return {code, out};
}

std::string SanitizerPreload() {
#if defined(__SANITIZE_ADDRESS__)
  auto [rc, asan] = RunCommand("gcc -print-file-name=libasan.so");
  auto [rc2, ubsan] = RunCommand("gcc -print-file-name=libubsan.so");
  while (!asan.empty() && asan.back() == '\n') asan.pop_back();
  while (!ubsan.empty() && ubsan.back() == '\n') ubsan.pop_back();
  return "ASAN_OPTIONS=detect_leaks=0 LD_PRELOAD=" + ShellQuote(asan + " " + ubsan) + " ";
#else
  return std::string();
#endif
}

namespace {

// unixODBC reads ODBCSYSINI once per process: every DSN of the test process
// lives in one shared directory's odbc.ini, each with its own files in a
// directory of its own.
class SharedIni {
 public:
  static SharedIni& Get() {
    static SharedIni ini;
    return ini;
  }
  void Put(const std::string& dsn, const std::string& section) {
    sections_[dsn] = section;
    Write();
  }
  void Remove(const std::string& dsn) {
    sections_.erase(dsn);
    Write();
  }

 private:
  SharedIni() : dir_(support::MakeTempDir("standin_test_")) {
    Spit(dir_ + "/odbcinst.ini", std::string("[KranzelStandin]\nDriver = ") + STANDIN_LIB + "\n");
    Spit(dir_ + "/odbc.ini", "");
    setenv("ODBCSYSINI", dir_.c_str(), 1);
  }
  ~SharedIni() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  void Write() const {
    std::string all;
    for (const auto& [dsn, section] : sections_) all += section;
    Spit(dir_ + "/odbc.ini", all);
  }
  std::string dir_;
  std::map<std::string, std::string> sections_;
};

}  // namespace

TestDsn::TestDsn(const Attributes& extra, bool credentials) {
  SharedIni::Get();
  dir = support::MakeTempDir("standin_test_");
  dbPath = dir + "/db.sqlite";
  journalPath = dir + "/journal.sql";
  controlPath = dir + "/control";
  attributes_ = {{"Database", dbPath}, {"Journal", journalPath}};
  if (credentials) {
    attributes_.push_back({"User", "kranzel"});
    attributes_.push_back({"Password", "geheim"});
  }
  SetAttributes(extra);
  auto [rc, out] = RunCommand(std::string(STANDIN_TOOL) + " create " + ShellQuote(dbPath) + " " +
                                  ShellQuote(std::string(KRANZEL_SOURCE_DIR) + "/schema/qvsystem.sql"),
                              true);
  EXPECT_EQ(rc, 0) << out;
}

TestDsn::~TestDsn() {
  SharedIni::Get().Remove(dsn);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void TestDsn::SetAttributes(const Attributes& extra) {
  for (const auto& [key, value] : extra) {
    bool found = false;
    for (auto it = attributes_.begin(); it != attributes_.end(); ++it) {
      if (it->first == key) {
        found = true;
        if (value.empty()) {
          attributes_.erase(it);
        } else {
          it->second = value;
        }
        break;
      }
    }
    if (!found && !value.empty()) attributes_.push_back({key, value});
  }
  WriteOdbcIni();
}

void TestDsn::SetControl(const std::string& directives) {
  Spit(controlPath, directives);
  SetAttributes({{"Control", controlPath}});
}

void TestDsn::WriteOdbcIni() {
  // A changed DSN gets a new name, so no cached reading of the old one can
  // answer for it.
  if (!dsn.empty()) SharedIni::Get().Remove(dsn);
  dsn = "STANDIN" + std::to_string(getpid()) + "_" + std::to_string(dsnCounter++);
  std::string ini = "[" + dsn + "]\nDriver = KranzelStandin\n";
  for (const auto& [key, value] : attributes_) ini += key + " = " + value + "\n";
  SharedIni::Get().Put(dsn, ini);
}

Diag FirstDiag(SQLSMALLINT type, SQLHANDLE handle) {
  Diag d;
  SQLCHAR state[6] = {0};
  SQLCHAR message[1024] = {0};
  SQLSMALLINT length = 0;
  if (SQL_SUCCEEDED(SQLGetDiagRec(type, handle, 1, state, &d.native, message, sizeof message, &length))) {
    d.sqlstate = reinterpret_cast<char*>(state);
    d.message = reinterpret_cast<char*>(message);
  }
  return d;
}

int DiagCount(SQLSMALLINT type, SQLHANDLE handle) {
  SQLINTEGER count = -1;
  if (!SQL_SUCCEEDED(SQLGetDiagField(type, handle, 0, SQL_DIAG_NUMBER, &count, 0, nullptr))) return -1;
  return count;
}

Connection::Connection(SQLINTEGER odbcVersion) {
  EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
  // ODBC passes an integer attribute in the pointer argument.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(odbcVersion)), 0);
  EXPECT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
}

Connection::~Connection() {
  Disconnect();
  if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
}

SQLRETURN Connection::Connect(const std::string& dsn, const std::string& user, const std::string& password) {
  SQLRETURN rc = SQLConnect(dbc, reinterpret_cast<SQLCHAR*>(const_cast<char*>(dsn.c_str())), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(user.c_str())), SQL_NTS,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(password.c_str())), SQL_NTS);
  connected = SQL_SUCCEEDED(rc);
  return rc;
}

SQLRETURN Connection::DriverConnect(const std::string& connectionString) {
  SQLCHAR out[2048];
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connectionString.c_str())),
                                  SQL_NTS, out, sizeof out, &outLength, SQL_DRIVER_NOPROMPT);
  connected = SQL_SUCCEEDED(rc);
  return rc;
}

void Connection::Disconnect() {
  if (connected) SQLDisconnect(dbc);
  connected = false;
}

Statement::Statement(SQLHDBC dbc) {
  allocResult = SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h);
  if (!SQL_SUCCEEDED(allocResult)) h = SQL_NULL_HSTMT;
}

Statement::~Statement() {
  if (h != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h);
}

SQLRETURN Statement::Exec(const std::string& sql) {
  return SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
}

SQLLEN Statement::RowCount() {
  SQLLEN rows = -99;
  EXPECT_EQ(SQLRowCount(h, &rows), SQL_SUCCESS);
  return rows;
}

std::vector<Row> Query(SQLHDBC dbc, const std::string& sql) {
  std::vector<Row> rows;
  Statement st(dbc);
  if (st.h == SQL_NULL_HSTMT) {
    ADD_FAILURE() << "no statement handle for " << sql;
    return rows;
  }
  SQLRETURN rc = st.Exec(sql);
  if (!SQL_SUCCEEDED(rc)) {
    ADD_FAILURE() << sql << ": " << rc << " " << st.FirstDiag().message;
    return rows;
  }
  SQLSMALLINT columns = 0;
  SQLNumResultCols(st.h, &columns);
  while ((rc = SQLFetch(st.h)) != SQL_NO_DATA) {
    if (!SQL_SUCCEEDED(rc)) {
      ADD_FAILURE() << "fetch failed: " << st.FirstDiag().message;
      break;
    }
    Row row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      char buf[512];
      SQLLEN ind = 0;
      SQLRETURN g = SQLGetData(st.h, c, SQL_C_CHAR, buf, sizeof buf, &ind);
      if (!SQL_SUCCEEDED(g)) {
        ADD_FAILURE() << "SQLGetData failed: " << st.FirstDiag().message;
        row.push_back("<ERROR>");
      } else {
        row.push_back(ind == SQL_NULL_DATA ? std::string("<NULL>") : std::string(buf));
      }
    }
    rows.push_back(row);
  }
  return rows;
}

}  // namespace standin_test
