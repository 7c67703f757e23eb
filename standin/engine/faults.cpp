// Reads the fault control file and keeps its counters for the process.
#include "faults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace standin {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Splits off the next blank-separated word of `line` starting at `pos`.
std::string NextWord(const std::string& line, std::size_t& pos) {
  while (pos < line.size() && IsBlank(line[pos])) ++pos;
  std::size_t start = pos;
  while (pos < line.size() && !IsBlank(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

// A non-negative decimal number that fits a long.
bool ParseCount(const std::string& word, long& out) {
  if (word.empty() || word.size() > 18) return false;
  for (char c : word) {
    if (c < '0' || c > '9') return false;
  }
  out = std::strtol(word.c_str(), nullptr, 10);
  return true;
}

bool ParseNative(const std::string& word, int& out) {
  std::string digits = word;
  bool negative = false;
  if (!digits.empty() && digits[0] == '-') {
    negative = true;
    digits.erase(0, 1);
  }
  long value = 0;
  if (!ParseCount(digits, value) || value > INT_MAX) return false;
  out = static_cast<int>(negative ? -value : value);
  return true;
}

bool ParseLine(const std::string& raw, FaultPlan& plan, std::string& why) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::size_t pos = 0;
  std::string directive = NextWord(line, pos);
  if (directive.empty() || directive[0] == '#') return true;

  if (directive == "refuse_connect") {
    std::string arg = NextWord(line, pos);
    if (arg == "all") {
      plan.refuseAll = true;
    } else if (!ParseCount(arg, plan.refuseFirst)) {
      why = "refuse_connect needs \"all\" or a count";
      return false;
    }
  } else if (directive == "fail_stmt_alloc") {
    long k = 0;
    if (!ParseCount(NextWord(line, pos), k) || k < 1) {
      why = "fail_stmt_alloc needs a number of 1 or more";
      return false;
    }
    plan.failStmtAlloc.push_back(k);
  } else if (directive == "fail_statement" || directive == "stall_statement") {
    const bool stall = directive == "stall_statement";
    FailStatementRule rule;
    if (!stall && (!ParseNative(NextWord(line, pos), rule.native) || rule.native == 0)) {
      why = "fail_statement needs a non-zero native error number";
      return false;
    }
    std::string times = NextWord(line, pos);
    if (times == "always") {
      rule.times = -1;
    } else if (!ParseCount(times, rule.times)) {
      why =
          directive + (stall ? " needs a count or \"always\"" : " needs a count or \"always\" after the native error");
      return false;
    }
    // The substring is the rest of the line after the one separator that
    // follows TIMES, taken literally (blanks included).
    if (pos < line.size()) ++pos;
    rule.substring = line.substr(pos);
    if (rule.substring.empty()) {
      why = directive + " needs a substring";
      return false;
    }
    (stall ? plan.stallStatements : plan.failStatements).push_back(rule);
  } else if (directive == "drop_after") {
    if (!ParseCount(NextWord(line, pos), plan.dropAfter)) {
      why = "drop_after needs a count";
      return false;
    }
  } else {
    why = "unknown directive '" + directive + "'";
    return false;
  }
  if (directive != "fail_statement" && directive != "stall_statement" && !NextWord(line, pos).empty()) {
    why = "unexpected text after the directive";
    return false;
  }
  return true;
}

}  // namespace

bool ParseControl(const std::string& text, FaultPlan& plan, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string why;
    if (!ParseLine(line, plan, why)) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
  }
  return true;
}

std::string SqlStateForNative(int native) {
  switch (native) {
    case 207: return "42S22";
    case 208: return "42S02";
    case 241: return "22007";
    case 242: return "22008";
    case 245: return "22018";
    case 515:
    case 547:
    case 2601:
    case 2627: return "23000";
    case 8152: return "22001";
    case 1205: return "40001";
    case 10054: return "08S01";
    default: return "42000";
  }
}

bool FaultState::RefuseConnect() {
  std::lock_guard<std::mutex> lock(mu_);
  ++connects_;
  return plan_.refuseAll || connects_ <= plan_.refuseFirst;
}

bool FaultState::FailStmtAlloc() {
  std::lock_guard<std::mutex> lock(mu_);
  ++stmtAllocs_;
  for (long k : plan_.failStmtAlloc) {
    if (k == stmtAllocs_) return true;
  }
  return false;
}

bool FaultState::FailStatement(const std::string& text, int& native) {
  std::lock_guard<std::mutex> lock(mu_);
  for (FailStatementRule& rule : plan_.failStatements) {
    if (text.find(rule.substring) == std::string::npos) continue;
    // First matching line wins, even when its failures are used up.
    if (rule.times >= 0 && rule.used >= rule.times) return false;
    ++rule.used;
    native = rule.native;
    return true;
  }
  return false;
}

bool FaultState::StallStatement(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  for (FailStatementRule& rule : plan_.stallStatements) {
    if (text.find(rule.substring) == std::string::npos) continue;
    if (rule.times >= 0 && rule.used >= rule.times) return false;
    ++rule.used;
    return true;
  }
  return false;
}

bool FaultState::TakeDrop() {
  std::lock_guard<std::mutex> lock(mu_);
  if (dropFired_ || plan_.dropAfter < 0 || successes_ < plan_.dropAfter) return false;
  dropFired_ = true;
  return true;
}

void FaultState::CountSuccess() {
  std::lock_guard<std::mutex> lock(mu_);
  ++successes_;
}

FaultState* FaultsForControlFile(const std::string& path, std::string& error) {
  static std::mutex mu;
  static std::map<std::string, std::unique_ptr<FaultState>> states;
  std::lock_guard<std::mutex> lock(mu);
  auto found = states.find(path);
  if (found != states.end()) return found->second.get();

  FaultPlan plan;
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream text;
    text << in.rdbuf();
    std::string why;
    if (!ParseControl(text.str(), plan, why)) {
      error = "Control file " + path + ", " + why;
      return nullptr;
    }
  }
  auto state = std::make_unique<FaultState>(std::move(plan));
  FaultState* raw = state.get();
  states.emplace(path, std::move(state));
  return raw;
}

}  // namespace standin
