// What the driver reported while the run imported, kept for the run summary
// (kranzel-runs.jsonl): the rows it said the record statements and the
// sweep touched in the current import attempt. Only counted: no statement
// and no statement result depends on it.
#pragma once

namespace db {

// Rows the driver reported (SQLRowCount after success, 0 for SQL_NO_DATA),
// summed per kind of statement; 0 while no statement of that kind ran, -1
// once one ran whose count the driver did not give (the sum is then not
// known). The marks are not updates of records and are not counted;
// `updated` counts every UPDATE of a record, the 35P import's QVS401ZLS
// update included.
struct DriverCounts {
  long inserted = 0;  // the upserts' INSERTs (not the IDN side tables')
  long updated = 0;   // the upserts' UPDATEs
  long deleted = 0;   // the sweep's DELETE
};

}  // namespace db
