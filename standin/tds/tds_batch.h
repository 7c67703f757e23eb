// What the listener does to a request's text before the engine sees it:
// cutting a batch into its statements (SQL Server runs a batch of several,
// separated by ';' or by the start of the next statement), recognising the
// statements a session answers itself (SET options, BEGIN/COMMIT/ROLLBACK
// TRAN), and putting the values a statement asks for in place of its
// @@-variables, SERVERPROPERTY calls and a request's parameters.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tds_wire.h"

namespace tds {

// The statements of a batch, each its own text (without the ';' that
// ended it); blank statements and comments left out.
std::vector<std::string> SplitBatch(const std::string& text);

// What a statement is to the session.
enum class StmtKind { Engine, Set, Begin, Commit, Rollback, Save };
StmtKind Classify(const std::string& statement);

// "IF @@TRANCOUNT > 0 statement" (what drivers send to end a transaction
// that may not be open): true with the statement that follows the test.
bool SplitTranCountTest(const std::string& statement, std::string& body);

// A SET statement: the option (upper case; "TRANSACTION ISOLATION LEVEL"
// for that one) and its value words (upper case, joined by one blank).
struct SetOption {
  std::string option;
  std::string value;
};
bool ParseSet(const std::string& statement, SetOption& out);

// What the server-wide names of a statement stand for in this session.
struct SessionValues {
  int spid = 0;
  long long rowCount = 0;  // @@ROWCOUNT: rows of the session's previous statement
  int tranCount = 0;       // @@TRANCOUNT
};
// The text of the version that @@VERSION and SERVERPROPERTY answer.
std::string VersionText();
std::string ProductVersion();

// `statement` with @@VERSION, @@SPID, @@ROWCOUNT, @@TRANCOUNT, @@SERVERNAME,
// @@LANGUAGE and SERVERPROPERTY('...') replaced by their values, and every
// @name found in `params` (names compared without regard to case) by its
// value as one literal token: a text is quoted (its apostrophes doubled),
// a number written out, a date a CONVERT of its ODBC canonical text, NULL
// as NULL. The value never becomes anything but that one literal. An
// @name not in `params` stays (the engine reports it).
std::string Substitute(const std::string& statement, const SessionValues& values,
                       const std::map<std::string, Value>& params);

// A value as the literal Substitute writes (for the journal too).
std::string Literal(const Value& v);

// The parameter declarations of sp_executesql / sp_prepare
// ("@p1 int, @p2 nvarchar(10) OUTPUT"): the names in order, upper case.
std::vector<std::string> DeclaredNames(const std::string& declarations);

}  // namespace tds
