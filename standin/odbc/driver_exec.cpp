// Statements: execution (with the journal and the statement faults), the
// row-count answers of SQL Server's ODBC 3 drivers and of FreeTDS, result
// sets and their column descriptions, fetching into bound columns and
// SQLGetData.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "driver.h"
#include "driver_convert.h"

namespace standin {

namespace {

SQLRETURN ServerError(Handle* h, Error& err) {
  std::string state = err.sqlstate.empty() ? "42000" : err.sqlstate;
  if (err.pending) {
    h->diag.Add(state, err.native, std::string());
    h->diag.records.back().pending = [build = std::move(err.pending)] { return kServerPrefix + build(); };
    return SQL_ERROR;
  }
  return h->Error(state, err.native, kServerPrefix + err.message);
}

SQLRETURN LinkFailure(Handle* h) {
  return h->Error("08S01", 10054, std::string(kNetPrefix) + "Communication link failure");
}

// Describes column `i` of the open result from its declared type (a table
// column) or, for an expression, from the value of the current row.
ColumnInfo DescribeColumn(sqlite3_stmt* st, int i, bool haveRow) {
  ColumnInfo c;
  const char* name = sqlite3_column_name(st, i);
  c.name = name != nullptr ? name : "";
  const char* table = sqlite3_column_table_name(st, i);
  c.tableName = table != nullptr ? table : "";
  const char* origin = sqlite3_column_origin_name(st, i);
  c.baseColumnName = origin != nullptr ? origin : "";
  const char* decl = sqlite3_column_decltype(st, i);

  auto setText = [&c](SQLSMALLINT type, const char* typeName, long size) {
    c.sqlType = type;
    c.typeName = typeName;
    c.size = static_cast<SQLULEN>(size);
    c.displaySize = size;
    c.octetLength = size;
  };
  auto setNumber = [&c](SQLSMALLINT type, const char* typeName, SQLULEN precision, SQLLEN display, SQLLEN octets) {
    c.sqlType = type;
    c.typeName = typeName;
    c.size = precision;
    c.displaySize = display;
    c.octetLength = octets;
  };

  if (decl != nullptr && *decl != '\0') {
    // A table column: its declared type is SQL Server's, as the translator
    // wrote it. A text type without length (varchar(max)) is described with
    // the default size.
    ColumnType t = ParseDeclaredType(decl);
    long length = t.length >= 0 ? t.length : 255;
    switch (t.type) {
      case ColType::DateTime:
        setNumber(SQL_TYPE_TIMESTAMP, "datetime", 23, 23, 16);
        c.decimals = 3;
        break;
      case ColType::Char:
      case ColType::NChar: setText(SQL_CHAR, "char", length); break;
      case ColType::VarChar:
      case ColType::NVarChar: setText(SQL_VARCHAR, "varchar", length); break;
      case ColType::BigInt: setNumber(SQL_BIGINT, "bigint", 19, 20, 8); break;
      case ColType::SmallInt: setNumber(SQL_SMALLINT, "smallint", 5, 6, 2); break;
      case ColType::TinyInt:
        setNumber(SQL_TINYINT, "tinyint", 3, 3, 1);
        c.isUnsigned = true;
        break;
      case ColType::Int: setNumber(SQL_INTEGER, "int", 10, 11, 4); break;
      case ColType::Bit: setNumber(SQL_BIT, "bit", 1, 1, 1); break;
      case ColType::Other: setText(SQL_VARCHAR, "varchar", 255); break;
    }
  } else {
    int type = haveRow ? sqlite3_column_type(st, i) : SQLITE_TEXT;
    if (type == SQLITE_INTEGER) {
      setNumber(SQL_BIGINT, "bigint", 19, 20, 8);
    } else if (type == SQLITE_FLOAT) {
      setNumber(SQL_DOUBLE, "float", 15, 24, 8);
    } else {
      long n = haveRow ? sqlite3_column_bytes(st, i) : 0;
      setText(SQL_VARCHAR, "varchar", n > 255 ? n : 255);
    }
  }

  if (!c.tableName.empty() && !c.baseColumnName.empty()) {
    int notNull = 0;
    const char* db = sqlite3_column_database_name(st, i);
    if (sqlite3_table_column_metadata(sqlite3_db_handle(st), db, c.tableName.c_str(), c.baseColumnName.c_str(), nullptr,
                                      nullptr, &notNull, nullptr, nullptr) == SQLITE_OK) {
      c.nullable = notNull != 0 ? SQL_NO_NULLS : SQL_NULLABLE;
    }
  }
  return c;
}

SQLRETURN CheckColumn(Stmt* s, SQLUSMALLINT column) {
  if (s->ex.stmt == nullptr)
    return s->Error("07005", 0, std::string(kDriverPrefix) + "Prepared statement is not a query");
  if (column == 0 || column > s->ColumnCount()) {
    return s->Error("07009", 0, std::string(kDriverPrefix) + "Invalid descriptor index");
  }
  return SQL_SUCCESS;
}

SQLRETURN Fetch(Stmt* s) {
  if (s->ex.stmt == nullptr) return s->Error("24000", 0, std::string(kDriverPrefix) + "Invalid cursor state");
  s->getDataColumn = 0;
  s->getDataOffset = 0;
  s->getDataDone = false;
  Error err;
  int r = tsql::StepRow(s->dbc->db.handle(), s->ex, s->text, err);
  if (r < 0) {
    s->onRow = false;
    s->haveColumns = false;
    s->columns.clear();
    return ServerError(s, err);
  }
  if (r == 0) {
    s->onRow = false;
    if (s->rowsFetchedPtr != nullptr) *s->rowsFetchedPtr = 0;
    return SQL_NO_DATA;
  }
  s->onRow = true;
  const std::vector<ColumnInfo>& columns = s->Columns();
  bool info = false;
  bool failed = false;
  for (auto& [number, b] : s->bindings) {
    if (number > columns.size()) continue;
    std::size_t offset = 0;
    bool more = false;
    SQLRETURN rc = ConvertColumn(s, s->ex.stmt, number - 1, columns[number - 1], b.cType, b.target, b.length,
                                 b.indicator, offset, more);
    if (rc == SQL_ERROR) failed = true;
    if (rc == SQL_SUCCESS_WITH_INFO) info = true;
  }
  SQLRETURN result = SQL_SUCCESS;
  if (failed) {
    result = SQL_ERROR;
  } else if (info) {
    result = SQL_SUCCESS_WITH_INFO;
  }
  if (s->rowsFetchedPtr != nullptr) *s->rowsFetchedPtr = 1;
  if (s->rowStatusPtr != nullptr) {
    *s->rowStatusPtr = failed ? SQL_ROW_ERROR : info ? SQL_ROW_SUCCESS_WITH_INFO : SQL_ROW_SUCCESS;
  }
  return result;
}

SQLRETURN GetData(Stmt* s, SQLUSMALLINT column, SQLSMALLINT cType, SQLPOINTER target, SQLLEN length,
                  SQLLEN* indicator) {
  if (s->ex.stmt == nullptr || !s->onRow) {
    return s->Error("24000", 0, std::string(kDriverPrefix) + "Invalid cursor state");
  }
  SQLRETURN rc = CheckColumn(s, column);
  if (rc != SQL_SUCCESS) return rc;
  if (column != s->getDataColumn) {
    s->getDataColumn = column;
    s->getDataOffset = 0;
    s->getDataDone = false;
  }
  if (s->getDataDone) return SQL_NO_DATA;
  const ColumnInfo& info = s->Columns()[column - 1];
  std::size_t offset = s->getDataOffset;
  bool more = false;
  rc = ConvertColumn(s, s->ex.stmt, column - 1, info, cType, target, length, indicator, offset, more);
  if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) {
    // After a piece of a text or binary value the next call continues
    // where this one stopped; after the last piece it answers SQL_NO_DATA.
    s->getDataOffset = offset;
    s->getDataDone = !more;
  }
  return rc;
}

template <typename LenT>
void PutLength(LenT* out, SQLLEN v) {
  if (out != nullptr) *out = static_cast<LenT>(v);
}

SQLRETURN ColAttribute(Stmt* s, SQLUSMALLINT column, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT bufferLength,
                       SQLSMALLINT* textLength, SQLLEN* number) {
  if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
    PutLength(number, s->ColumnCount());
    return SQL_SUCCESS;
  }
  SQLRETURN rc = CheckColumn(s, column);
  if (rc != SQL_SUCCESS) return rc;
  const ColumnInfo& c = s->Columns()[column - 1];
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_COLUMN_NAME: return TextOut(s, c.name, text, bufferLength, textLength);
    case SQL_DESC_BASE_COLUMN_NAME: return TextOut(s, c.baseColumnName, text, bufferLength, textLength);
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME: return TextOut(s, c.tableName, text, bufferLength, textLength);
    case SQL_DESC_SCHEMA_NAME: return TextOut(s, c.tableName.empty() ? "" : "QVSYSTEM", text, bufferLength, textLength);
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME: return TextOut(s, "", text, bufferLength, textLength);
    case SQL_DESC_TYPE_NAME: return TextOut(s, c.typeName, text, bufferLength, textLength);
    case SQL_DESC_CONCISE_TYPE: PutLength(number, c.sqlType); return SQL_SUCCESS;
    case SQL_DESC_TYPE:
      PutLength(number, c.sqlType == SQL_TYPE_TIMESTAMP || c.sqlType == SQL_TYPE_DATE ? SQL_DATETIME : c.sqlType);
      return SQL_SUCCESS;
    case SQL_DESC_LENGTH:
    case SQL_COLUMN_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
      PutLength(number, field == SQL_DESC_OCTET_LENGTH || field == SQL_COLUMN_LENGTH ? c.octetLength
                                                                                     : static_cast<SQLLEN>(c.size));
      return SQL_SUCCESS;
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_PRECISION: PutLength(number, static_cast<SQLLEN>(c.size)); return SQL_SUCCESS;
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE: PutLength(number, c.decimals); return SQL_SUCCESS;
    case SQL_DESC_DISPLAY_SIZE: PutLength(number, c.displaySize); return SQL_SUCCESS;
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE: PutLength(number, c.nullable); return SQL_SUCCESS;
    case SQL_DESC_UNNAMED: PutLength(number, c.name.empty() ? SQL_UNNAMED : SQL_NAMED); return SQL_SUCCESS;
    case SQL_DESC_UNSIGNED:
      PutLength(number, c.isUnsigned || c.sqlType == SQL_CHAR || c.sqlType == SQL_VARCHAR ||
                                c.sqlType == SQL_LONGVARCHAR || c.sqlType == SQL_TYPE_TIMESTAMP
                            ? SQL_TRUE
                            : SQL_FALSE);
      return SQL_SUCCESS;
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_CASE_SENSITIVE:  // the server's collation ignores case
      PutLength(number, SQL_FALSE);
      return SQL_SUCCESS;
    case SQL_DESC_SEARCHABLE: PutLength(number, SQL_PRED_SEARCHABLE); return SQL_SUCCESS;
    case SQL_DESC_UPDATABLE: PutLength(number, SQL_ATTR_READWRITE_UNKNOWN); return SQL_SUCCESS;
    case SQL_DESC_NUM_PREC_RADIX:
      PutLength(number, c.sqlType == SQL_INTEGER || c.sqlType == SQL_BIGINT || c.sqlType == SQL_SMALLINT ||
                                c.sqlType == SQL_TINYINT || c.sqlType == SQL_DECIMAL
                            ? 10
                        : c.sqlType == SQL_DOUBLE ? 2
                                                  : 0);
      return SQL_SUCCESS;
    default: return s->Error("HY091", 0, std::string(kDriverPrefix) + "Invalid descriptor field identifier");
  }
}

SQLRETURN DescribeCol(Stmt* s, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT bufferLength, SQLSMALLINT* nameLength,
                      SQLSMALLINT* dataType, SQLULEN* size, SQLSMALLINT* decimals, SQLSMALLINT* nullable) {
  SQLRETURN rc = CheckColumn(s, column);
  if (rc != SQL_SUCCESS) return rc;
  const ColumnInfo& c = s->Columns()[column - 1];
  if (dataType != nullptr) *dataType = c.sqlType;
  if (size != nullptr) *size = c.size;
  if (decimals != nullptr) *decimals = c.decimals;
  if (nullable != nullptr) *nullable = c.nullable;
  return TextOut(s, c.name, name, bufferLength, nameLength);
}

// A statement the server never answers: the driver gives up after the
// statement's query timeout, as a real driver does (HYT00); without one it
// waits for ever.
SQLRETURN Stall(Stmt* s) {
  auto found = s->attributes.find(SQL_ATTR_QUERY_TIMEOUT);
  const SQLULEN seconds = found == s->attributes.end() ? 0 : found->second;
  for (;;) {
    timespec left{static_cast<time_t>(seconds != 0 ? seconds : 3600), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    if (seconds != 0) break;
  }
  return s->Error("HYT00", 0, std::string(kDriverPrefix) + "Query timeout expired");
}

// The statement text of SQLExecDirect and SQLPrepare: SQL_SUCCESS, or the
// error it records on `s`.
SQLRETURN CheckStatementText(Stmt* s, const SQLCHAR* text, SQLINTEGER length) {
  if (text == nullptr) return s->Error("HY009", 0, std::string(kDriverPrefix) + "Invalid use of null pointer");
  if (length < 0 && length != SQL_NTS) {
    return s->Error("HY090", 0, std::string(kDriverPrefix) + "Invalid string or buffer length");
  }
  return SQL_SUCCESS;
}

}  // namespace

void Stmt::CloseCursor() {
  ex.Reset();
  onRow = false;
  haveColumns = false;
  columns.clear();
  getDataColumn = 0;
  getDataOffset = 0;
  getDataDone = false;
}

SQLSMALLINT Stmt::ColumnCount() const {
  if (ex.stmt == nullptr) return 0;
  return static_cast<SQLSMALLINT>(sqlite3_column_count(ex.stmt));
}

const std::vector<ColumnInfo>& Stmt::Columns() {
  if (!haveColumns && ex.stmt != nullptr) {
    int n = sqlite3_column_count(ex.stmt);
    // Before the first fetch the first row is already stepped (pending);
    // after that the current row, if any, is the one to look at.
    bool haveRow = ex.rowPending || onRow;
    columns.clear();
    columns.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) columns.push_back(DescribeColumn(ex.stmt, i, haveRow));
    haveColumns = true;
  }
  return columns;
}

SQLRETURN ExecuteText(Stmt* s, const std::string& text) {
  Dbc* c = s->dbc;
  s->CloseCursor();
  s->diag.rowCount = -1;
  s->text = text;
  c->journal.Write(text);
  if (c->dropped) return LinkFailure(s);
  if (c->faults != nullptr) {
    if (c->faults->TakeDrop()) {
      c->dropped = true;
      return LinkFailure(s);
    }
    if (c->faults->StallStatement(text)) return Stall(s);
    int native = 0;
    if (c->faults->FailStatement(text, native)) {
      return s->Error(SqlStateForNative(native), native,
                      kServerPrefix + std::string("Statement failed on purpose (control file): native error ") +
                          std::to_string(native) + ".");
    }
  }
  Error err;
  if (!tsql::Execute(c->db.handle(), text, s->ex, err, true)) return ServerError(s, err);
  if (c->faults != nullptr) c->faults->CountSuccess();

  if (s->ex.stmt != nullptr) {
    s->diag.rowCount = -1;
    return SQL_SUCCESS;
  }
  s->diag.rowCount = static_cast<SQLLEN>(s->ex.rowCount);
  // ODBC 3 drivers answer a searched UPDATE or DELETE that touched no row
  // with SQL_NO_DATA; ODBC 2 applications and FreeTDS get success instead.
  bool rowsStatement = s->ex.kind == Kind::Update || s->ex.kind == Kind::Delete;
  if (rowsStatement && s->ex.rowCount == 0 && !c->freetds &&
      c->env->odbcVersion >= static_cast<SQLINTEGER>(SQL_OV_ODBC3)) {
    return SQL_NO_DATA;
  }
  return SQL_SUCCESS;
}

}  // namespace standin

using namespace standin;

extern "C" {

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT StatementHandle, SQLCHAR* StatementText, SQLINTEGER TextLength) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (SQLRETURN rc = CheckStatementText(s, StatementText, TextLength); rc != SQL_SUCCESS) return s->Done(rc);
  s->prepared = false;
  return s->Done(ExecuteText(s, TextIn(StatementText, TextLength)));
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT StatementHandle, SQLCHAR* StatementText, SQLINTEGER TextLength) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (SQLRETURN rc = CheckStatementText(s, StatementText, TextLength); rc != SQL_SUCCESS) return s->Done(rc);
  // The statement runs (and is checked) on SQLExecute, as SQL Server's
  // drivers defer a prepare to the first execution.
  s->CloseCursor();
  s->text = TextIn(StatementText, TextLength);
  s->prepared = true;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT StatementHandle) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (!s->prepared) return s->Done(s->Error("HY010", 0, std::string(kDriverPrefix) + "Function sequence error"));
  std::string text = s->text;
  return s->Done(ExecuteText(s, text));
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT StatementHandle, SQLSMALLINT* ParameterCountPtr) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (ParameterCountPtr != nullptr) *ParameterCountPtr = 0;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLSMALLINT TargetType,
                             SQLPOINTER TargetValue, SQLLEN BufferLength, SQLLEN* StrLen_or_Ind) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (ColumnNumber == 0) {
    return s->Done(s->Error("07009", 0, std::string(kDriverPrefix) + "Invalid descriptor index (no bookmarks)"));
  }
  if (BufferLength < 0) {
    return s->Done(s->Error("HY090", 0, std::string(kDriverPrefix) + "Invalid string or buffer length"));
  }
  if (TargetValue == nullptr && StrLen_or_Ind == nullptr) {
    s->bindings.erase(ColumnNumber);  // unbinds the column
    return SQL_SUCCESS;
  }
  if (!IsSupportedCType(TargetType)) {
    return s->Done(s->Error("HY003", 0, std::string(kDriverPrefix) + "Program type out of range"));
  }
  s->bindings[ColumnNumber] = Binding{TargetType, TargetValue, BufferLength, StrLen_or_Ind};
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT StatementHandle) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  return s->Done(Fetch(s));
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT StatementHandle, SQLSMALLINT FetchOrientation, SQLLEN /*FetchOffset*/) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (FetchOrientation != SQL_FETCH_NEXT) {
    return s->Done(s->Error("HY106", 0, std::string(kDriverPrefix) + "Fetch type out of range (forward-only cursor)"));
  }
  return s->Done(Fetch(s));
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLSMALLINT TargetType,
                             SQLPOINTER TargetValue, SQLLEN BufferLength, SQLLEN* StrLen_or_Ind) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (!IsSupportedCType(TargetType)) {
    return s->Done(s->Error("HY003", 0, std::string(kDriverPrefix) + "Program type out of range"));
  }
  if (BufferLength < 0) {
    return s->Done(s->Error("HY090", 0, std::string(kDriverPrefix) + "Invalid string or buffer length"));
  }
  return s->Done(GetData(s, ColumnNumber, TargetType, TargetValue, BufferLength, StrLen_or_Ind));
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT StatementHandle, SQLLEN* RowCount) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  // The row count belongs to the last execution; reading it clears only
  // the diagnostics records.
  SQLLEN rows = s->diag.rowCount;
  s->diag.records.clear();
  if (RowCount != nullptr) *RowCount = rows;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT StatementHandle, SQLSMALLINT* ColumnCount) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.records.clear();
  if (ColumnCount != nullptr) *ColumnCount = s->ColumnCount();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLCHAR* ColumnName,
                                 SQLSMALLINT BufferLength, SQLSMALLINT* NameLength, SQLSMALLINT* DataType,
                                 SQLULEN* ColumnSize, SQLSMALLINT* DecimalDigits, SQLSMALLINT* Nullable) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.records.clear();
  return s->Done(DescribeCol(s, ColumnNumber, ColumnName, BufferLength, NameLength, DataType, ColumnSize, DecimalDigits,
                             Nullable));
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLUSMALLINT FieldIdentifier,
                                  SQLPOINTER CharacterAttribute, SQLSMALLINT BufferLength, SQLSMALLINT* StringLength,
                                  SQLLEN* NumericAttribute) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.records.clear();
  return s->Done(
      ColAttribute(s, ColumnNumber, FieldIdentifier, CharacterAttribute, BufferLength, StringLength, NumericAttribute));
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT StatementHandle) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.records.clear();
  // Every statement has one result; asking for the next closes the cursor.
  s->CloseCursor();
  return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT StatementHandle, SQLUSMALLINT Option) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  switch (Option) {
    case SQL_CLOSE: s->CloseCursor(); return SQL_SUCCESS;
    case SQL_UNBIND: s->bindings.clear(); return SQL_SUCCESS;
    case SQL_RESET_PARAMS: return SQL_SUCCESS;
    case SQL_DROP: FreeStmt(s); return SQL_SUCCESS;
    default: return s->Done(s->Error("HY092", 0, std::string(kDriverPrefix) + "Invalid attribute/option identifier"));
  }
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT StatementHandle) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  if (s->ex.stmt == nullptr) return s->Done(s->Error("24000", 0, std::string(kDriverPrefix) + "Invalid cursor state"));
  s->CloseCursor();
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
  Stmt* s = AsStmt(StatementHandle);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  s->diag.Clear();
  return SQL_SUCCESS;  // statements run synchronously: nothing is in flight
}

}  // extern "C"
