// Test scaffolding for the stand-in's ODBC driver: a temporary ODBCSYSINI
// directory (odbcinst.ini naming the driver, odbc.ini with one DSN), a
// database created from the project's schema by kranzel-standin, RAII
// handles through the real unixODBC driver manager, and helpers that read
// diagnostics and rows.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <utility>
#include <vector>

#include "support/files.h"

namespace standin_test {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// A DSN of the process-wide test odbc.ini (ODBCSYSINI is set on first use:
// unixODBC reads it once per process) with its own temporary directory and
// a database created from schema/qvsystem.sql. The DSN expects user
// "kranzel" with password "geheim" unless `credentials` is false.
class TestDsn {
 public:
  explicit TestDsn(const Attributes& extra = {}, bool credentials = true);
  ~TestDsn();
  TestDsn(const TestDsn&) = delete;
  TestDsn& operator=(const TestDsn&) = delete;

  // Rewrites the DSN with these attributes on top of the defaults (an empty
  // value removes an attribute); the DSN gets a new name.
  void SetAttributes(const Attributes& extra);
  // Writes the control file (and names it in the DSN).
  void SetControl(const std::string& directives);

  std::string dir;
  std::string dsn;
  std::string dbPath;
  std::string journalPath;
  std::string controlPath;

 private:
  void WriteOdbcIni();
  Attributes attributes_;
};

// One diagnostic record.
struct Diag {
  std::string sqlstate;
  SQLINTEGER native = 0;
  std::string message;
};

// The first diagnostic record of a handle (empty when there is none).
Diag FirstDiag(SQLSMALLINT type, SQLHANDLE handle);
// How many diagnostic records the handle holds.
int DiagCount(SQLSMALLINT type, SQLHANDLE handle);

// An environment and a connection handle of the driver manager, freed (and
// disconnected) by the destructor.
class Connection {
 public:
  explicit Connection(SQLINTEGER odbcVersion = SQL_OV_ODBC3);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  SQLRETURN Connect(const std::string& dsn, const std::string& user = "kranzel",
                    const std::string& password = "geheim");
  SQLRETURN DriverConnect(const std::string& connectionString);
  void Disconnect();

  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
};

// A statement handle, freed by the destructor.
class Statement {
 public:
  explicit Statement(SQLHDBC dbc);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLRETURN allocResult = SQL_ERROR;
  SQLHSTMT h = SQL_NULL_HSTMT;
  SQLRETURN Exec(const std::string& sql);
  SQLLEN RowCount();
  [[nodiscard]] Diag FirstDiag() const { return standin_test::FirstDiag(SQL_HANDLE_STMT, h); }
};

using Row = std::vector<std::string>;  // NULL reads as "<NULL>"

// Runs a query on `dbc` and reads every row with SQLGetData as text.
// Fails the current test when the statement or a fetch fails.
std::vector<Row> Query(SQLHDBC dbc, const std::string& sql);

// Runs a shell command; returns its exit status and standard output (and
// standard error when `withStderr`).
std::pair<int, std::string> RunCommand(const std::string& command, bool withStderr = false);

// Single-quotes a value for the shell.
std::string ShellQuote(const std::string& value);

// The environment prefix that lets a program built without sanitizers load
// the driver when the driver was built with them (empty otherwise).
std::string SanitizerPreload();

using support::Slurp;
using support::Spit;

}  // namespace standin_test
