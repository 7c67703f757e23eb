// Conversion of a result value (an SQLite column of the current row) into
// the C type an application asked for in SQLBindCol or SQLGetData.
#pragma once

#include <cstddef>

#include "driver.h"

namespace standin {

// True for the C types the stand-in converts to.
bool IsSupportedCType(SQLSMALLINT cType);

// Converts column `i` of the current row of `st` into `target` (of
// `length` bytes for text and binary types). Text and binary values are
// written from byte `offset` on; `offset` is advanced past what was written
// and `more` tells whether some of the value is left (SQLGetData's pieces).
// Warnings and errors are recorded on `h`.
SQLRETURN ConvertColumn(Handle* h, sqlite3_stmt* st, int i, const ColumnInfo& info, SQLSMALLINT cType,
                        SQLPOINTER target, SQLLEN length, SQLLEN* indicator, std::size_t& offset, bool& more);

}  // namespace standin
