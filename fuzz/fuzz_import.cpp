// Fuzz target: the importers of every file type on arbitrary lines,
// read through the text reader, their statements captured by a capture
// executor instead of a database.
//
// Input: byte 0 picks the file type (its place in the table of file types,
// modulo their number; fuzz/make_corpus.sh reads the order from kranzel's
// usage text, which lists the table), byte 1 the run's flags (bit 0 "UPD",
// bit 1 DB_SYSTEM MYSQL, bit 2 no server date), bytes 2-9 the answers the
// capture gives in turn (done, no row, an error); the rest is the work file.
//
// Checked: the input is imported twice, once as given and once with every
// apostrophe replaced by '&' (which compares like an apostrophe with every
// other character an importer looks at). Both runs must send the same
// statements but for the values inside their literals: each literal closed,
// the text outside the literals equal, and each literal of the first run,
// its doubled apostrophes read back as one and then replaced, equal to the
// second run's. So an apostrophe in a value never ends its literal, and the
// stored text is the field's text. No literal holds a line feed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/statement.h"
#include "fuzz_file.h"
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"
#include "run/run.h"

namespace {

importers::ImportContext Context;
// The answers a statement may get: done, no row, an error without a native
// number, the invalid column of an older SLD table, a duplicate key.
const db::StatementResult kAnswers[] = {
    db::StatementResult::Done(),      db::StatementResult::NoRow(), db::StatementResult::NoRow(),
    db::StatementResult::Done(),      db::StatementResult::Error(), db::StatementResult::Error(207),
    db::StatementResult::Error(2627), db::StatementResult::NoRow()};
constexpr std::size_t kHeader = 10;

struct Sent {
  db::StatementKind kind;
  std::string text;
};

std::vector<Sent> Captured;
const std::uint8_t* AnswerBytes = nullptr;

db::StatementResult Sink(db::StatementKind kind, const std::string& text) {
  std::size_t n = Captured.size();
  Captured.push_back({kind, text});
  return kAnswers[AnswerBytes[n % 8] % 8];
}

// A statement cut into the text outside its literals (each literal left as
// '') and the literals' values (doubled apostrophes read back as one).
struct Lexed {
  std::string outside;
  std::vector<std::string> literals;
};

Lexed Lex(const std::string& text) {
  Lexed out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '\'') {
      out.outside.push_back(text[i++]);
      continue;
    }
    std::string value;
    ++i;
    for (;;) {
      if (i >= text.size()) fuzz::Fail(("literal not closed: " + text).c_str());
      if (text[i] == '\'') {
        if (i + 1 < text.size() && text[i + 1] == '\'') {
          value.push_back('\'');
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      value.push_back(text[i++]);
    }
    if (value.find('\n') != std::string::npos) fuzz::Fail(("line feed stored: " + text).c_str());
    out.outside += "''";
    out.literals.push_back(value);
  }
  return out;
}

std::vector<Sent> Import(importers::Importer importer, fuzz::MemFile& file,
                         const std::string& content) {
  file.Set(content);
  Captured.clear();
  platform::TextReader reader;
  if (!reader.Open(file.path())) fuzz::Fail("TextReader: memory file not opened");
  // Each import is a run of its own: a fresh session and importer state.
  db::Session session;
  db::CaptureExecutor capture(Sink);
  session.SetExecutor(&capture);
  importers::ImportContext context = Context;
  context.Db = &session;
  importers::ImportResult result = importer(reader, context);
  if (result != importers::ImportResult::Imported &&
      result != importers::ImportResult::DatabaseError &&
      result != importers::ImportResult::WrongLength) {
    fuzz::Fail("importer: result outside 0, 2, 4");
  }
  return std::move(Captured);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  static fuzz::MemFile file;
  static bool ready = false;
  if (!ready) {
    klog::LogPath = "/dev/null";
    klog::OldLogPath = "/dev/null";
    klog::DebugFlag = 0;
    ready = true;
  }
  const importers::Importer importer =
      importers::FileTypes()[data[0] % importers::FileTypes().size()]->import;
  Context.UpdateMode = data[1] & 1;
  Context.DbSystemMysql = (data[1] & 2) != 0;
  Context.ServerDate = (data[1] & 4) ? "" : "20261208";
  AnswerBytes = data + 2;

  const std::string given(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  std::string plain = given;
  for (char& c : plain) {
    if (c == '\'') c = '&';
  }

  std::vector<Sent> a = Import(importer, file, given);
  std::vector<Sent> b = Import(importer, file, plain);
  if (a.size() != b.size()) {
    // Both streams, for whoever reproduces the finding.
    for (const Sent& x : a) std::fprintf(stderr, "with apostrophes: %s\n", x.text.c_str());
    for (const Sent& x : b) std::fprintf(stderr, "without:          %s\n", x.text.c_str());
    fuzz::Fail("an apostrophe changed the statements sent");
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind) fuzz::Fail("an apostrophe changed the statements sent");
    Lexed la = Lex(a[i].text);
    Lexed lb = Lex(b[i].text);
    if (la.outside != lb.outside || la.literals.size() != lb.literals.size()) {
      fuzz::Fail(("an apostrophe ended a literal early: " + a[i].text).c_str());
    }
    for (std::size_t k = 0; k < la.literals.size(); ++k) {
      std::string value = la.literals[k];
      for (char& c : value) {
        if (c == '\'') c = '&';
      }
      if (value != lb.literals[k])
        fuzz::Fail(("a value stored other than cut: " + a[i].text).c_str());
    }
  }
  return 0;
}
