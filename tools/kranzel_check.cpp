// kranzel-check: tells what kranzel would do with a delivery, or whether an
// installation would reach its database, without importing or writing
// anything.
//
// A delivery is read through kranzel's own reader and its own import cycle
// (the importer of the file type, with a cycle observer and the statement
// sink in place of the database), so the lengths, forms, cut fields and
// statements are the import's, not a copy of them. The file is opened for
// reading only and never renamed; nothing is logged to kranzel.log.
//
// Exit codes: 0 the import would succeed (the installation is fine), 1 it
// would fail (something is wrong), 2 bad arguments or a file that cannot be
// opened.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "check_installation.h"
#include "check_report.h"
#include "db/connection.h"
#include "db/statement.h"
#include "importers/date_text.h"
#include "importers/importers.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/text_reader.h"

namespace {

constexpr int kWouldSucceed = 0;
constexpr int kWouldFail = 1;
constexpr int kUsageError = 2;

// Problems listed before the rest are only counted.
constexpr long kProblemLimit = 100;

// The usage text. The types of TYPE come from the table of file types, so a
// new type is listed without a change here.
constexpr const char* kUsageHead =
    "kranzel-check: what kranzel would do with a delivery, or whether an installation\n"
    "reaches its database; reads only, writes nothing\n"
    "\n"
    "Usage:\n"
    "  kranzel-check FILE TYPE [UPD] [options]\n"
    "      read FILE as kranzel reads a delivery of TYPE (";
constexpr const char* kUsageTypesIndent = "      ";
// The list of types wraps before a code that would end past this column.
constexpr std::size_t kUsageWidth = 82;
constexpr const char* kUsageTail =
    ") and list every line the import would reject\n"
    "      (line number, expected and actual length, where it deviates) and every\n"
    "      value the database would refuse to convert; ends with 'N records, M rejected'\n"
    "    --show             print each record's columns as the import stores them\n"
    "    --statements       print the statements the import would send, one a line\n"
    "                       (without the server timestamp query kranzel sends first)\n"
    "    --mysql            as on an installation whose DB_SYSTEM reads MYSQL\n"
    "    --server-date YYYYMMDD\n"
    "                       the server's date for the MYSQL rule (default: today)\n"
    "  kranzel-check --installation [DIR]\n"
    "      check the installation that kranzel sees from its working directory DIR\n"
    "      (default: the current directory): ../../Files/Valdura.Ini, the log\n"
    "      directory, the data source, the connection, the server timestamp query\n"
    "      and a zero-row read of each table the importers use\n"
    "  --json               the report as one JSON object (both forms)\n"
    "  --log TEXT           append TEXT to ../../Valdura_php/log/kranzel.log as kranzel\n"
    "                       logs a message (the delivery helper's lines); the one form\n"
    "                       that writes\n"
    "  --help, --version\n"
    "\n"
    "Exit codes: 0 the import would succeed / the installation is fine,\n"
    "1 it would fail / something is wrong, 2 bad arguments or FILE cannot be opened.\n";

std::string Usage() {
  std::string text = kUsageHead;
  std::size_t column = text.size() - text.rfind('\n') - 1;
  bool first = true;
  for (const importers::FileType* type : importers::FileTypes()) {
    const std::string code = type->code;
    if (!first) {
      // The comma, a blank, the code and the comma or parenthesis after it.
      if (column + 2 + code.size() + 1 > kUsageWidth) {
        text += std::string(",\n") + kUsageTypesIndent;
        column = std::string(kUsageTypesIndent).size();
      } else {
        text += ", ";
        column += 2;
      }
    }
    first = false;
    text += code;
    column += code.size();
  }
  return text + kUsageTail;
}

int UsageError(const std::string& message) {
  std::cerr << "kranzel-check: " << message << "\nTry 'kranzel-check --help'.\n";
  return kUsageError;
}

// The conversions the statements ask the database for.
enum class Conversion {
  Date112,      // convert(datetime, NULLIF(v, ''), 112): empty or yyyymmdd
  DateTime120,  // the 14-character YYYYMMDDHHMMSS sent as "YYYYMMDD HH:MM:SS"
  Int,          // NULLIF(v, '') into an int column
};

struct Converted {
  const char* type;
  const char* column;
  Conversion conversion;
};

constexpr Converted kConversions[] = {
    {"IDN", "AswGvo", Conversion::Date112},     {"IDN", "AswGbi", Conversion::Date112},
    {"IDN", "AswDat", Conversion::DateTime120}, {"MND", "TMDDAT", Conversion::DateTime120},
    {"MND", "TMDSTA", Conversion::Int},
};

bool AllDigits(const std::string& s, std::size_t from, std::size_t count) {
  if (from + count > s.size()) return false;
  for (std::size_t i = from; i < from + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

int Number(const std::string& s, std::size_t from, std::size_t count) {
  return std::stoi(s.substr(from, count));
}

// A calendar date the datetime type holds (1753 to 9999).
bool ValidDate(const std::string& s) {
  if (s.size() < 8 || !AllDigits(s, 0, 8)) return false;
  const int year = Number(s, 0, 4), month = Number(s, 4, 2), day = Number(s, 6, 2);
  if (year < 1753 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Why the database would refuse `value`, or empty when it converts. Empty
// values are NULL (NULLIF) and always fine.
std::string Refusal(Conversion conversion, const std::string& value) {
  if (value.empty()) return {};
  switch (conversion) {
    case Conversion::Date112:
      if (value.size() == 8 && ValidDate(value)) return {};
      return "not a date YYYYMMDD (converted with style 112)";
    case Conversion::DateTime120:
      if (value.size() == 14 && AllDigits(value, 0, 14) && ValidDate(value) &&
          Number(value, 8, 2) < 24 && Number(value, 10, 2) < 60 && Number(value, 12, 2) < 60)
        return {};
      return "not a date and time YYYYMMDDHHMMSS (sent as '" + importers::DateTimeText(value) +
             "', converted with style 120)";
    case Conversion::Int: {
      std::size_t i = value.find_first_not_of(' ');
      if (value[i] == '+' || value[i] == '-') ++i;
      if (i < value.size() && AllDigits(value, i, value.size() - i)) {
        const long long n = std::stoll(value.substr(i, 18));
        if (value.size() - i <= 10 && n <= 2147483647LL) return {};
        return "outside the range of an int column";
      }
      return "not a number (the column is int)";
    }
  }
  return {};
}

std::string Hex(unsigned char c) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(c));
  return text;
}

struct Problem {
  long line = 0;
  bool length = false;  // a wrong length, else a refused value
  long expected = 0;
  long actual = 0;
  std::string accepted;  // the accepted lengths, "272" or "368 or 364"
  std::string where;     // where the line deviates
  std::string field;     // a refused value: its column, value and reason
  std::string value;
  std::string reason;
};

struct Shown {
  long line = 0;
  std::vector<std::pair<std::string, std::string>> columns;
};

// ---- The empty database the check imports into ----------------------------
//
// An upsert's UPDATE finds no row in an empty table, unless the delivery
// itself inserted one with the same key before (a key that repeats): then
// the import's UPDATE hits that row and no INSERT follows. So the answers
// keep the keys the delivery inserted, read from the UPDATE statements
// themselves:
//
//   update := blanks "UPDATE" blanks table ... "WHERE" term ("AND" term)*
//   term   := column "=" expr
//   expr   := 'text' | number | NULL | name "(" expr ("," expr)* ")"
//
// (the WHERE found outside quoted text). RTRIM, NULLIF and CONVERT are
// evaluated on the text (CONVERT's type and style are not: a date compares
// by its text); an UPDATE that does not read this way is answered as
// before, "no row". A key is remembered when the INSERT into the same table
// follows its UPDATE. Keys compare as SQL Server compares them: trailing
// blanks ignored, letters without regard to case (Windows-1252), and a NULL
// equal to nothing (an IDN record without AswGvo is inserted every time).

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// A value as its key compares: trailing blanks cut, letters upper-cased as
// a case-insensitive collation of Windows-1252 folds them.
std::string Folded(std::string value) {
  while (!value.empty() && value.back() == ' ') value.pop_back();
  for (char& ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    unsigned char f = c;
    if (c >= 'a' && c <= 'z') f = static_cast<unsigned char>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) f = static_cast<unsigned char>(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E) f = static_cast<unsigned char>(c - 16);
    if (c == 0xFF) f = 0x9F;
    ch = static_cast<char>(f);
  }
  return value;
}

// Reads the parts of a statement's text that the answers depend on.
class StatementReader {
 public:
  explicit StatementReader(const std::string& text) : t_(text) {}

  // The table after "UPDATE" (upper-cased) and the terms of the WHERE
  // clause as one comparable key; false when the text does not read so, or
  // when a term is NULL (such a key matches nothing).
  bool UpdateKey(std::string& table, std::string& key) {
    if (!Word("UPDATE") || !Name(table)) return false;
    table = Upper(table);
    const std::size_t where = FindWhere();
    if (where == std::string::npos) return false;
    at_ = where + 5;
    key.clear();
    for (;;) {
      std::string column;
      bool null = false;
      std::string value;
      if (!Name(column) || !Char('=') || !Expr(null, value)) return false;
      if (null) return false;
      const std::string folded = Folded(value);
      key += Upper(column) + '=' + std::to_string(folded.size()) + ':' + folded + ';';
      Blanks();
      if (at_ == t_.size()) return true;
      if (!Word("AND")) return false;
    }
  }

  // The table after "INSERT INTO" (upper-cased); false when there is none.
  bool InsertTable(std::string& table) {
    if (!Word("INSERT") || !Word("INTO") || !Name(table)) return false;
    table = Upper(table);
    return true;
  }

 private:
  void Blanks() {
    while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\t' || t_[at_] == '\n')) ++at_;
  }
  static bool NameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '.';
  }
  bool Name(std::string& name) {
    Blanks();
    const std::size_t from = at_;
    while (at_ < t_.size() && NameChar(t_[at_])) ++at_;
    name = t_.substr(from, at_ - from);
    return !name.empty();
  }
  bool Word(const char* word) {
    const std::size_t from = at_;
    std::string name;
    if (Name(name) && Upper(name) == word) return true;
    at_ = from;
    return false;
  }
  bool Char(char c) {
    Blanks();
    if (at_ >= t_.size() || t_[at_] != c) return false;
    ++at_;
    return true;
  }
  // 'text' with its apostrophes doubled, into `value`.
  bool Quoted(std::string& value) {
    if (!Char('\'')) return false;
    value.clear();
    while (at_ < t_.size()) {
      const char c = t_[at_++];
      if (c != '\'') {
        value += c;
      } else if (at_ < t_.size() && t_[at_] == '\'') {
        value += c;
        ++at_;
      } else {
        return true;
      }
    }
    return false;
  }
  bool Expr(bool& null, std::string& value) {
    null = false;
    Blanks();
    if (at_ < t_.size() && t_[at_] == '\'') return Quoted(value);
    std::string name;
    if (!Name(name)) return false;
    const std::string upper = Upper(name);
    if (upper == "NULL") {
      null = true;
      return true;
    }
    Blanks();
    if (at_ >= t_.size() || t_[at_] != '(') {
      value = name;  // a number, or a type or style inside CONVERT
      return true;
    }
    ++at_;
    std::vector<std::pair<bool, std::string>> args;
    for (;;) {
      bool argNull = false;
      std::string arg;
      if (!Expr(argNull, arg)) return false;
      args.emplace_back(argNull, arg);
      if (Char(')')) break;
      if (!Char(',')) return false;
    }
    if (upper == "RTRIM" && args.size() == 1) {
      null = args[0].first;
      value = args[0].second;
      while (!value.empty() && value.back() == ' ') value.pop_back();
      return true;
    }
    if (upper == "NULLIF" && args.size() == 2) {
      null = args[0].first || (!args[1].first && Folded(args[0].second) == Folded(args[1].second));
      value = args[0].second;
      return true;
    }
    if (upper == "CONVERT" && (args.size() == 2 || args.size() == 3)) {
      null = args[1].first;
      value = args[1].second;
      return true;
    }
    return false;
  }
  // The position of the WHERE of the statement: the last one outside quoted
  // text, between blanks.
  [[nodiscard]] std::size_t FindWhere() const {
    std::size_t found = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i + 5 <= t_.size(); ++i) {
      if (t_[i] == '\'') quoted = !quoted;
      if (quoted || (i > 0 && NameChar(t_[i - 1]))) continue;
      if (Upper(t_.substr(i, 5)) == "WHERE" && (i + 5 == t_.size() || !NameChar(t_[i + 5])))
        found = i;
    }
    return found;
  }

  const std::string& t_;
  std::size_t at_ = 0;
};

// Statements given to the sink, when they are wanted.
std::vector<std::string>* Statements = nullptr;
// The keys the delivery inserted, each with its table.
std::unordered_set<std::string> InsertedKeys;
// The key of the last UPDATE that found no row, waiting for its INSERT.
std::string PendingKey;
std::string PendingTable;

// The database in the import's place: takes each statement as it would be
// sent and answers as the empty tables would, filled by the delivery alone:
// an UPDATE finds a row only where the delivery inserted its key, so every
// other upsert formats its INSERT too.
db::StatementResult Sink(db::StatementKind kind, const std::string& text) {
  if (Statements != nullptr) Statements->push_back(text);
  if (kind == db::StatementKind::Update) {
    std::string table, key;
    PendingKey.clear();
    if (!StatementReader(text).UpdateKey(table, key)) return db::StatementResult::NoRow();
    if (InsertedKeys.count(table + ' ' + key) != 0) return db::StatementResult::Done(1);
    PendingTable = table;
    PendingKey = key;
    return db::StatementResult::NoRow();
  }
  if ((kind == db::StatementKind::Insert || kind == db::StatementKind::LenientInsert) &&
      !PendingKey.empty()) {
    std::string table;
    if (StatementReader(text).InsertTable(table) && table == PendingTable)
      InsertedKeys.insert(table + ' ' + PendingKey);
    PendingKey.clear();
  }
  return db::StatementResult::Done();
}

// Watches the import cycle: numbers the lines as the file has them, lets the
// cycle go on past a wrong length, and checks each cut record.
class Checker : public importers::CycleObserver {
 public:
  Checker(const importers::FileType& type, bool show) : type_(type), show_(show) {}

  void Read(const platform::TextReader& file, const std::string& line) override {
    line_ = nextLine_;
    column_ = nextColumn_;
    readCount_ = static_cast<long>(file.LastReadCount());
    endedLine_ = file.LastReadEndedLine();
    if (endedLine_) {
      ++nextLine_;
      nextColumn_ = 1;
    } else {
      nextColumn_ += readCount_;
    }
    if (line != "\n") ++records_;
  }

  bool WrongLength(const std::string& line, long actual, std::span<const long> accepted) override {
    Problem p;
    p.line = line_;
    p.length = true;
    p.expected = accepted.front();
    p.actual = actual;
    for (long length : accepted)
      p.accepted += (p.accepted.empty() ? "" : " or ") + std::to_string(length);
    p.where = Where(line, actual);
    if (actual > readCount_) {
      // The cycle read the rest of the long line: the next read begins the
      // next line.
      ++nextLine_;
      nextColumn_ = 1;
    }
    // A line feed inside a record leaves two short lines that add up to it.
    if (!problems_.empty() && problems_.back().length && problems_.back().line == line_ - 1 &&
        column_ == 1 && problems_.back().actual + p.actual == p.expected + 1 &&
        lastWrongLine_ == line_ - 1) {
      Problem& previous = problems_.back();
      previous.where = "a line feed inside the record at position " +
                       std::to_string(previous.actual) + " splits it over lines " +
                       std::to_string(previous.line) + " and " + std::to_string(line_);
      p.where = "the rest of line " + std::to_string(previous.line) +
                "'s record, after the line feed inside it";
    }
    lastWrongLine_ = line_;
    Add(std::move(p));
    return true;
  }

  void Cut(const importers::Record& record, std::span<const importers::Field> fields) override {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      for (const Converted& c : kConversions) {
        if (std::strcmp(c.type, type_.code) != 0 || std::strcmp(c.column, fields[i].column) != 0)
          continue;
        std::string reason = Refusal(c.conversion, record[i]);
        if (reason.empty()) continue;
        Problem p;
        p.line = line_;
        p.field = fields[i].column;
        p.value = record[i];
        p.reason = reason;
        Add(std::move(p));
      }
    }
    if (!show_) return;
    Shown s;
    s.line = line_;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (std::strcmp(fields[i].column, "line end") == 0) continue;
      s.columns.emplace_back(fields[i].column, record[i]);
    }
    shown_.push_back(std::move(s));
  }

  [[nodiscard]] long Records() const { return records_; }
  [[nodiscard]] long Rejected() const { return static_cast<long>(rejectedLines_.size()); }
  [[nodiscard]] long Unlisted() const { return unlisted_; }
  [[nodiscard]] const std::vector<Problem>& Problems() const { return problems_; }
  [[nodiscard]] const std::vector<Shown>& ShownRecords() const { return shown_; }

 private:
  // Where a line of the wrong length deviates, from what the reader says of
  // its last read.
  [[nodiscard]] std::string Where(const std::string& line, long actual) const {
    const long length = static_cast<long>(line.size());
    std::string where;
    if (actual > readCount_) {
      where = "the line goes on past the longest record: " + std::to_string(actual) +
              " characters with its line end";
    } else if (readCount_ > length) {
      where =
          "a NUL byte at position " + std::to_string(column_ + length) + " ends the record there";
    } else if (!endedLine_) {
      where = "no line end: the file ends inside the record";
    } else {
      where = "the line ends at position " + std::to_string(length);
    }
    // A byte outside plain text often explains a length: a character of a
    // multi-byte encoding, or a control character.
    for (long i = 0; i < length; ++i) {
      const unsigned char c = static_cast<unsigned char>(line[static_cast<std::size_t>(i)]);
      if (c == '\n' && i == length - 1) break;
      if (c >= 0x80) {
        where += "; byte " + Hex(c) + " at position " + std::to_string(column_ + i) +
                 " is not ASCII (a multi-byte encoding such as UTF-8 lengthens the line)";
        break;
      }
      if (c < 0x20 || c == 0x7F) {
        where += "; control character " + Hex(c) + " at position " + std::to_string(column_ + i);
        break;
      }
    }
    return where;
  }

  void Add(Problem p) {
    rejectedLines_.insert(p.line);
    if (static_cast<long>(problems_.size()) < kProblemLimit) {
      problems_.push_back(std::move(p));
    } else {
      ++unlisted_;
    }
  }

  const importers::FileType& type_;
  const bool show_;
  long line_ = 0, column_ = 1;          // where the current read begins
  long nextLine_ = 1, nextColumn_ = 1;  // where the next read begins
  long readCount_ = 0;
  bool endedLine_ = false;
  long lastWrongLine_ = 0;
  long records_ = 0;
  std::set<long> rejectedLines_;
  long unlisted_ = 0;
  std::vector<Problem> problems_;
  std::vector<Shown> shown_;
};

std::string Today() { return platform::LocalTimeText("%Y%m%d"); }

struct FileOptions {
  std::string file;
  std::string type;  // as given
  bool update = false, show = false, statements = false, mysql = false, json = false;
  std::string serverDate;
};

int CheckFile(const FileOptions& o) {
  const std::string code = Upper(o.type).substr(0, 3);
  const importers::FileType* type = importers::FindFileType(code);
  if (type == nullptr) return UsageError("unknown file type '" + o.type + "'");

  platform::TextReader reader;
  if (!reader.Open(o.file)) {
    // The reader refuses anything but a regular file without a word of why.
    std::string why;
    if (std::FILE* again = platform::OpenRegularFile(o.file, why)) std::fclose(again);
    std::cerr << "kranzel-check: cannot open " << o.file << " ("
              << (why.empty() ? std::string("it cannot be read") : why)
              << "; kranzel opens regular files only)\n";
    return kUsageError;
  }

  std::vector<std::string> statements;
  Statements = o.statements ? &statements : nullptr;
  // A session without a connection: every statement goes to the sink.
  db::Session session;
  db::CaptureExecutor capture(Sink);
  session.SetExecutor(&capture);

  Checker checker(*type, o.show);
  importers::ImportContext context;
  context.Db = &session;
  context.UpdateMode = o.update ? 1 : 0;
  context.DbSystemMysql = o.mysql;
  context.ServerDate = o.serverDate.empty() ? Today() : o.serverDate;
  context.Observer = &checker;
  const importers::ImportResult result = type->import(reader, context);

  const bool readError = result == importers::ImportResult::FileError;
  const bool fine = result == importers::ImportResult::Imported && checker.Rejected() == 0;
  const int exitCode = fine ? kWouldSucceed : kWouldFail;

  if (o.json) {
    std::ostringstream j;
    j << "{\"file\":" << check::Json(o.file) << ",\"type\":" << check::Json(code)
      << ",\"records\":" << checker.Records() << ",\"rejected\":" << checker.Rejected()
      << ",\"problems\":[";
    bool first = true;
    for (const Problem& p : checker.Problems()) {
      j << (first ? "" : ",") << "{\"line\":" << p.line;
      if (p.length) {
        j << R"(,"kind":"length","expected":)" << p.expected << ",\"actual\":" << p.actual
          << ",\"accepted\":" << check::Json(p.accepted) << ",\"where\":" << check::Json(p.where);
      } else {
        j << R"(,"kind":"value","field":)" << check::Json(p.field)
          << ",\"value\":" << check::Json(p.value) << ",\"reason\":" << check::Json(p.reason);
      }
      j << "}";
      first = false;
    }
    j << "],\"unlisted_problems\":" << checker.Unlisted();
    if (readError) j << ",\"read_error\":" << check::Json(reader.ErrorText());
    if (o.show) {
      j << ",\"shown\":[";
      first = true;
      for (const Shown& s : checker.ShownRecords()) {
        j << (first ? "" : ",") << "{\"line\":" << s.line << ",\"columns\":{";
        bool firstColumn = true;
        for (const auto& [column, value] : s.columns) {
          j << (firstColumn ? "" : ",") << check::Json(column) << ":" << check::Json(value);
          firstColumn = false;
        }
        j << "}}";
        first = false;
      }
      j << "]";
    }
    if (o.statements) {
      j << ",\"statements\":[";
      first = true;
      for (const std::string& s : statements) {
        j << (first ? "" : ",") << check::Json(s);
        first = false;
      }
      j << "]";
    }
    j << ",\"import\":" << (fine ? "\"would succeed\"" : "\"would fail\"") << "}\n";
    std::cout << j.str();
    return exitCode;
  }

  if (o.statements) {
    // Exactly as sent, one a line: the same text the stand-in's journal keeps.
    for (const std::string& s : statements) std::cout << s << "\n";
    std::cout.flush();
  }
  if (o.show) {
    for (const Shown& s : checker.ShownRecords()) {
      std::cout << o.file << ":" << s.line << ":\n";
      for (const auto& [column, value] : s.columns)
        std::cout << "  " << column << " = " << check::Quoted(value) << "\n";
    }
  }
  // With --statements the report goes to standard error, so that standard
  // output holds the statements only.
  std::ostream& report = o.statements ? std::cerr : std::cout;
  for (const Problem& p : checker.Problems()) {
    report << o.file << ":" << p.line << ": ";
    if (p.length) {
      report << "wrong length " << p.actual << ", expected " << p.accepted << ": " << p.where
             << "\n";
    } else {
      report << p.field << " " << check::Quoted(p.value) << ": " << p.reason << "\n";
    }
  }
  if (checker.Unlisted() > 0)
    report << "... and " << checker.Unlisted() << " more problems not listed\n";
  if (readError) report << o.file << ": read error: " << reader.ErrorText() << "\n";
  report << checker.Records() << " records, " << checker.Rejected() << " rejected\n";
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  // Code shared with kranzel logs through WriteLog; nothing of a check may
  // reach an installation's kranzel.log.
  klog::DebugFlag = 0;
  klog::LogPath = platform::kNullDevice;
  klog::OldLogPath = platform::kNullDevice;

  std::vector<std::string> args(argv + 1, argv + argc);
  bool json = false, installation = false;
  FileOptions o;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::cout << Usage();
      return kWouldSucceed;
    } else if (a == "--version") {
      std::cout << "kranzel-check " KRANZEL_VERSION "\n";
      return kWouldSucceed;
    } else if (a == "--log") {
      // For kranzel-deliveries.cmd, which has no other way to write a line
      // as kranzel does (timestamp, line end, rotation).
      if (i + 1 >= args.size()) return UsageError("--log needs TEXT");
      klog::LogPath = platform::NativePath("../../Valdura_php/log/kranzel.log");
      klog::OldLogPath = platform::NativePath("../../Valdura_php/log/kranzel.old");
      klog::WriteLog(args[i + 1]);
      return kWouldSucceed;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--installation") {
      installation = true;
    } else if (a == "--show") {
      o.show = true;
    } else if (a == "--statements") {
      o.statements = true;
    } else if (a == "--mysql") {
      o.mysql = true;
    } else if (a == "--server-date") {
      if (i + 1 >= args.size()) return UsageError("--server-date needs YYYYMMDD");
      o.serverDate = args[++i];
      if (o.serverDate.size() != 8 || !AllDigits(o.serverDate, 0, 8))
        return UsageError("--server-date needs YYYYMMDD");
    } else if (a.size() > 1 && a[0] == '-') {
      return UsageError("unknown option '" + a + "'");
    } else {
      positional.push_back(a);
    }
  }

  if (installation) {
    if (o.show || o.statements || o.mysql || !o.serverDate.empty())
      return UsageError("--installation takes only DIR and --json");
    if (positional.size() > 1) return UsageError("--installation takes one DIR");
    return CheckInstallation(positional.empty() ? "." : positional[0], json);
  }
  if (positional.size() < 2 || positional.size() > 3)
    return UsageError("give FILE and TYPE (and UPD), or --installation");
  o.file = positional[0];
  o.type = positional[1];
  if (positional.size() == 3) {
    if (Upper(positional[2]) != "UPD") return UsageError("the third argument can only be UPD");
    o.update = true;
  }
  o.json = json;
  return CheckFile(o);
}
