// Faults on purpose: the control file a DSN names (attribute Control) makes
// the stand-in misbehave the way a real server and network do, so the tool's
// retry and reconnect paths can be tested without touching the tool.
//
// Control file grammar (one directive per line; '#' starts a comment line;
// blank lines are ignored; words are separated by blanks or tabs):
//
//   refuse_connect all            every connect fails (server down)
//   refuse_connect N              the first N connects fail
//   fail_stmt_alloc K             the K-th statement-handle allocation fails
//                                 (several lines allowed)
//   fail_statement NATIVE TIMES SUBSTRING...
//                                 a statement whose text contains SUBSTRING
//                                 (the rest of the line after TIMES, taken
//                                 literally, case-sensitive) fails with the
//                                 native error NATIVE without touching the
//                                 database; TIMES is a count (the first TIMES
//                                 matching statements fail) or "always";
//                                 several lines allowed, the first matching
//                                 line wins
//   stall_statement TIMES SUBSTRING...
//                                 a statement whose text contains SUBSTRING
//                                 (as for fail_statement) gets no answer, as
//                                 from a server that hangs: the driver waits
//                                 for the statement's query timeout (for ever
//                                 without one) and fails it with HYT00; the
//                                 TDS listener stays silent until the client
//                                 cancels (attention) or goes
//   drop_after N                  after N successfully executed statements the
//                                 connection that runs the next statement is
//                                 dropped (once per process)
//
// The file is read once per process and path, the first time a connection
// names it; its counters live as long as the process.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace standin {

struct FailStatementRule {
  int native = 0;
  long times = -1;  // -1: always
  long used = 0;    // how many statements this rule has failed so far
  std::string substring;
};

struct FaultPlan {
  bool refuseAll = false;
  long refuseFirst = 0;
  std::vector<long> failStmtAlloc;  // 1-based allocation numbers
  std::vector<FailStatementRule> failStatements;
  std::vector<FailStatementRule> stallStatements;  // native unused
  long dropAfter = -1;                             // -1: never
};

// Parses the text of a control file. Returns false with `error` naming the
// offending line when a directive is not understood.
bool ParseControl(const std::string& text, FaultPlan& plan, std::string& error);

// The SQLSTATE that goes with an injected native error.
std::string SqlStateForNative(int native);

// The faults of one control file and their process-wide counters. All
// members are safe to call from several threads.
class FaultState {
 public:
  explicit FaultState(FaultPlan plan) : plan_(std::move(plan)) {}

  // Counts a connect; true when it must be refused.
  bool RefuseConnect();
  // Counts a statement-handle allocation; true when it must fail.
  bool FailStmtAlloc();
  // When a fail_statement rule matches `text` (and still has failures left),
  // uses one of them and returns true with its native error.
  bool FailStatement(const std::string& text, int& native);
  // When a stall_statement rule matches `text` (and still has stalls left),
  // uses one of them and returns true: the statement is not to be answered.
  bool StallStatement(const std::string& text);
  // True once, for the first statement attempted after drop_after N
  // successful statements: the connection running it is to be dropped.
  bool TakeDrop();
  // Counts a successfully executed statement.
  void CountSuccess();

 private:
  std::mutex mu_;
  FaultPlan plan_;
  long connects_ = 0;
  long stmtAllocs_ = 0;
  long successes_ = 0;
  bool dropFired_ = false;
};

// The fault state of the control file at `path`, read on the first call for
// that path and kept for the life of the process. A missing file means no
// faults. Returns nullptr with `error` set when the file cannot be parsed.
FaultState* FaultsForControlFile(const std::string& path, std::string& error);

}  // namespace standin
