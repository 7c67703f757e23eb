// The SQLite side of the translations: the collation TSQL and the functions
// tsql_* that give CONVERT, NULLIF, LEN, '+' and the assignments to typed
// columns SQL Server's semantics. Setup registers them on a connection.
//
// A function that fails reports SQL Server's error through its message
// (EncodeError), which MapError turns back into the error.
#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "tsql.h"
#include "tsql_catalog.h"
#include "tsql_connection.h"
#include "tsql_values.h"

namespace tsql {

namespace {

std::string_view ArgText(sqlite3_value* v) {
  const unsigned char* p = sqlite3_value_text(v);
  if (p == nullptr) return {};
  return {reinterpret_cast<const char*>(p), static_cast<std::size_t>(sqlite3_value_bytes(v))};
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
  sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void ResultError(sqlite3_context* ctx, const Error& e) {
  std::string msg = EncodeError(e);
  sqlite3_result_error(ctx, msg.data(), static_cast<int>(msg.size()));
}

bool IsNull(sqlite3_value* v) { return sqlite3_value_type(v) == SQLITE_NULL; }

std::string NumberText(sqlite3_value* v) {
  if (sqlite3_value_type(v) == SQLITE_INTEGER) return std::to_string(sqlite3_value_int64(v));
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15g", sqlite3_value_double(v));
  return buf;
}

// A value as datetime: the stored form, any text CONVERT accepts, or a
// number of days since 1900-01-01.
bool ToDateTime(sqlite3_value* v, int style, DateTime& dt, Error& err) {
  int t = sqlite3_value_type(v);
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
    dt = DateTime();
    if (!AddDays(dt, sqlite3_value_double(v))) {
      err = MakeError(8115, "22003", "Arithmetic overflow error converting expression to data type datetime.");
      return false;
    }
    return true;
  }
  std::string_view s = ArgText(v);
  if (ParseCanonical(s, dt)) return true;
  return ParseDateTime(s, style, dt, err);
}

// tsql_dt(value, style): CONVERT(datetime, value, style); style -1: none.
void FnDt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  DateTime dt;
  Error err;
  if (!ToDateTime(argv[0], sqlite3_value_int(argv[1]), dt, err)) return ResultError(ctx, err);
  ResultText(ctx, Canonical(dt));
}

// tsql_dtstr(datetime, style, n, pad): CONVERT(char(n)|varchar(n), datetime, style).
void FnDtStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  DateTime dt;
  Error err;
  std::string out;
  if (!ToDateTime(argv[0], -1, dt, err) || !FormatDateTime(dt, sqlite3_value_int(argv[1]), out, err)) {
    return ResultError(ctx, err);
  }
  ResultText(ctx, FitText(out, sqlite3_value_int(argv[2]), sqlite3_value_int(argv[3]) != 0));
}

// tsql_str(value, n, pad): CONVERT(char(n)|varchar(n), value) of a text or
// number. A number too long for n characters gives '*', as SQL Server does.
void FnStr(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  long n = sqlite3_value_int(argv[1]);
  bool pad = sqlite3_value_int(argv[2]) != 0;
  int t = sqlite3_value_type(argv[0]);
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
    std::string s = NumberText(argv[0]);
    if (n >= 0 && s.size() > static_cast<std::size_t>(n)) s = "*";
    return ResultText(ctx, FitText(s, n, pad));
  }
  ResultText(ctx, FitText(ArgText(argv[0]), n, pad));
}

// tsql_store(value, n, pad): a value stored into a char(n)/varchar(n) column.
void FnStore(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  long n = sqlite3_value_int(argv[1]);
  bool pad = sqlite3_value_int(argv[2]) != 0;
  int t = sqlite3_value_type(argv[0]);
  std::string out;
  Error err;
  if (t == SQLITE_INTEGER || t == SQLITE_FLOAT) {
    std::string s = NumberText(argv[0]);
    if (n >= 0 && s.size() > static_cast<std::size_t>(n)) {
      return ResultError(
          ctx, MakeError(8115, "22003", "Arithmetic overflow error converting expression to data type varchar."));
    }
    return ResultText(ctx, FitText(s, n, pad));
  }
  if (!StoreText(ArgText(argv[0]), n, pad, out, err)) return ResultError(ctx, err);
  ResultText(ctx, out);
}

// tsql_int(value, kind): conversion to int (0), smallint (1), bigint (2),
// tinyint (3) or bit (4).
void FnInt(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  IntKind kind = static_cast<IntKind>(sqlite3_value_int(argv[1]));
  int64_t out = 0;
  Error err;
  int t = sqlite3_value_type(argv[0]);
  bool ok = false;
  if (t == SQLITE_INTEGER) {
    ok = FitInt(sqlite3_value_int64(argv[0]), kind, out, err);
  } else if (t == SQLITE_FLOAT) {
    double d = std::trunc(sqlite3_value_double(argv[0]));
    if (d >= -9.2e18 && d <= 9.2e18) {
      ok = FitInt(static_cast<int64_t>(d), kind, out, err);
    } else {
      ok = FitInt(INT64_MAX, IntKind::Int, out, err);
    }
  } else {
    ok = ParseInt(ArgText(argv[0]), kind, out, err);
  }
  if (!ok) return ResultError(ctx, err);
  sqlite3_result_int64(ctx, out);
}

// tsql_dtround(text): SQLite's 'now' (yyyy-mm-dd hh:mm:ss.sss) rounded to
// SQL Server's datetime precision.
void FnDtRound(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  DateTime dt;
  if (!ParseCanonical(ArgText(argv[0]), dt) || !RoundToTicks(dt)) return ResultError(ctx, DateRangeError());
  ResultText(ctx, Canonical(dt));
}

// tsql_dtadd(datetime, days): datetime + number.
void FnDtAdd(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  DateTime dt;
  Error err;
  if (!ToDateTime(argv[0], -1, dt, err)) return ResultError(ctx, err);
  if (!AddDays(dt, sqlite3_value_double(argv[1]))) {
    return ResultError(ctx, MakeError(517, "22008", "Adding a value to a 'datetime' column caused an overflow."));
  }
  ResultText(ctx, Canonical(dt));
}

bool IsNumber(sqlite3_value* v) {
  int t = sqlite3_value_type(v);
  return t == SQLITE_INTEGER || t == SQLITE_FLOAT;
}

// tsql_nullif(a, b): NULLIF with the default collation for texts.
void FnNullIf(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  bool equal = false;
  if (!IsNull(argv[1])) {
    if (IsNumber(argv[0]) && IsNumber(argv[1])) {
      equal = sqlite3_value_double(argv[0]) == sqlite3_value_double(argv[1]);
    } else {
      equal = CompareText(ArgText(argv[0]), ArgText(argv[1])) == 0;
    }
  }
  if (equal) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, argv[0]);
}

void FnUpper(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  ResultText(ctx, UpperText(ArgText(argv[0])));
}

void FnLower(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  ResultText(ctx, LowerText(ArgText(argv[0])));
}

// tsql_len(text): characters without the trailing blanks.
void FnLen(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0])) return sqlite3_result_null(ctx);
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(CharCount(RTrimText(ArgText(argv[0])))));
}

// tsql_plus(a, b): '+' where the operand types are known only at run time:
// two texts are joined, otherwise the text is converted to a number.
void FnPlus(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  bool n0 = IsNumber(argv[0]), n1 = IsNumber(argv[1]);
  if (!n0 && !n1) {
    std::string s(ArgText(argv[0]));
    s += ArgText(argv[1]);
    return ResultText(ctx, s);
  }
  double d[2];
  bool allInt = true;
  int64_t iv[2];
  for (int k = 0; k < 2; ++k) {
    int t = sqlite3_value_type(argv[k]);
    if (t == SQLITE_INTEGER) {
      iv[k] = sqlite3_value_int64(argv[k]);
      d[k] = static_cast<double>(iv[k]);
    } else if (t == SQLITE_FLOAT) {
      allInt = false;
      d[k] = sqlite3_value_double(argv[k]);
    } else {
      Error err;
      if (!ParseInt(ArgText(argv[k]), IntKind::Int, iv[k], err)) return ResultError(ctx, err);
      d[k] = static_cast<double>(iv[k]);
    }
  }
  if (allInt) return sqlite3_result_int64(ctx, iv[0] + iv[1]);
  sqlite3_result_double(ctx, d[0] + d[1]);
}

// tsql_substring(text, start, length): SUBSTRING with SQL Server's window
// semantics for a start before the first character.
void FnSubstring(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1]) || IsNull(argv[2])) return sqlite3_result_null(ctx);
  int64_t start = sqlite3_value_int64(argv[1]);
  int64_t length = sqlite3_value_int64(argv[2]);
  if (length < 0) {
    return ResultError(ctx,
                       MakeError(537, "42000", "Invalid length parameter passed to the LEFT or SUBSTRING function."));
  }
  std::string_view s = ArgText(argv[0]);
  int64_t from = start < 1 ? 1 : start;
  int64_t to = start + length;  // exclusive, 1-based
  if (to <= from) return ResultText(ctx, std::string());
  std::string_view head = CharPrefix(s, static_cast<std::size_t>(from - 1));
  std::string_view rest = s.substr(head.size());
  ResultText(ctx, std::string(CharPrefix(rest, static_cast<std::size_t>(to - from))));
}

// tsql_right(text, n).
void FnRight(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (IsNull(argv[0]) || IsNull(argv[1])) return sqlite3_result_null(ctx);
  int64_t n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    return ResultError(ctx, MakeError(536, "42000", "Invalid length parameter passed to the RIGHT function."));
  }
  std::string_view s = ArgText(argv[0]);
  std::size_t count = CharCount(s);
  if (static_cast<std::size_t>(n) >= count) return ResultText(ctx, std::string(s));
  std::string_view head = CharPrefix(s, count - static_cast<std::size_t>(n));
  ResultText(ctx, std::string(s.substr(head.size())));
}

int CollateTsql(void*, int n1, const void* p1, int n2, const void* p2) {
  return CompareText(std::string_view(static_cast<const char*>(p1), static_cast<std::size_t>(n1)),
                     std::string_view(static_cast<const char*>(p2), static_cast<std::size_t>(n2)));
}

// Called by SQLite when the connection closes (or the collation is
// replaced): the connection's translator state goes with it.
void DestroyConnection(void* p) {
  auto* c = static_cast<Connection*>(p);
  UnregisterConnection(c);
  delete c;
}

struct FunctionDef {
  const char* name;
  int args;
  void (*fn)(sqlite3_context*, int, sqlite3_value**);
};

const FunctionDef kFunctions[] = {
    {"tsql_dt", 2, FnDt},
    {"tsql_dtstr", 4, FnDtStr},
    {"tsql_str", 3, FnStr},
    {"tsql_store", 3, FnStore},
    {"tsql_int", 2, FnInt},
    {"tsql_dtround", 1, FnDtRound},
    {"tsql_dtadd", 2, FnDtAdd},
    {"tsql_nullif", 2, FnNullIf},
    {"tsql_upper", 1, FnUpper},
    {"tsql_lower", 1, FnLower},
    {"tsql_len", 1, FnLen},
    {"tsql_plus", 2, FnPlus},
    {"tsql_substring", 3, FnSubstring},
    {"tsql_right", 2, FnRight},
};

}  // namespace

bool Setup(sqlite3* db, Error& err) {
  if (db == nullptr) {
    err = MakeError(0, "HY000", "No database connection.");
    return false;
  }
  if (FindConnection(db) != nullptr) return true;
  for (const FunctionDef& f : kFunctions) {
    int rc = sqlite3_create_function_v2(db, f.name, f.args, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                        nullptr, f.fn, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      err = MakeErrorFromSqlite(db);
      return false;
    }
  }
  auto* c = new Connection();
  c->db = db;
  int rc = sqlite3_create_collation_v2(db, "TSQL", SQLITE_UTF8, c, CollateTsql, DestroyConnection);
  if (rc != SQLITE_OK) {
    delete c;
    err = MakeErrorFromSqlite(db);
    return false;
  }
  RegisterConnection(c);
  return true;
}

}  // namespace tsql
