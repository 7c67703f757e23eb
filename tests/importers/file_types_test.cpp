// The table of file types as the run and the companion programs read it, and
// the compile-time check of message and statement formats.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>

#include "db/statement.h"
#include "importers/importers.h"
#include "util/format.h"

namespace {

using util::ArgKind;

// A format matches its arguments only in number and kind, in order.
template <std::size_t N>
constexpr bool Matches(const char* format, const ArgKind (&kinds)[N]) {
  return util::FormatMatches(format, kinds, N);
}
constexpr ArgKind kNone[1] = {ArgKind::Unknown};

static_assert(util::FormatMatches("Oeffnen der Datei fehlgeschlagen.", kNone, 0));
static_assert(util::FormatMatches("100%% sicher", kNone, 0));
static_assert(!util::FormatMatches("%s", kNone, 0));  // an argument too few
static_assert(Matches("Fehler in SQL_MGSST20P_Write: %d. Satz: '%s' ",
                      {ArgKind::Int, ArgKind::Text}));
static_assert(Matches("%ld von %ld Datensaetze", {ArgKind::Long, ArgKind::Long}));
static_assert(Matches("KidSta = %hd", {ArgKind::Short}));
static_assert(!Matches("%ld", {ArgKind::Long, ArgKind::Long}));  // an argument too many
static_assert(!Matches("%d", {ArgKind::Long}));                  // long for %d
static_assert(!Matches("%ld", {ArgKind::Int}));                  // int for %ld
static_assert(!Matches("'%s'", {ArgKind::Int}));                 // number for %s
static_assert(!Matches("%d", {ArgKind::Text}));                  // text for %d
static_assert(!Matches("%f", {ArgKind::Unknown}));               // a conversion it does not know
// Statements take plain conversions only: their formatter knows no flags,
// widths or precisions.
static_assert(Matches("%5s", {ArgKind::Text}));
static_assert(!util::FormatMatches("'%5s'", std::array{ArgKind::Text}.data(), 1,
                                   util::Conversions::Plain));
static_assert(!util::FormatMatches("%-d", std::array{ArgKind::Int}.data(), 1,
                                   util::Conversions::Plain));
static_assert(!util::FormatMatches("%.2s", std::array{ArgKind::Text}.data(), 1,
                                   util::Conversions::Plain));
static_assert(util::FormatMatches(
    "'%s' %hd %ld %lld 100%%",
    std::array{ArgKind::Text, ArgKind::Short, ArgKind::Long, ArgKind::LongLong}.data(), 4,
    util::Conversions::Plain));
static_assert(util::KindOf<std::string>() == ArgKind::Text);
static_assert(util::KindOf<const char*>() == ArgKind::Text);
static_assert(util::KindOf<char[4]>() == ArgKind::Text);
static_assert(util::KindOf<double>() == ArgKind::Unknown);

TEST(FileTypesTest, EveryTypeFoundByItsCode) {
  ASSERT_FALSE(importers::FileTypes().empty());
  std::set<std::string> codes;
  for (const importers::FileType* type : importers::FileTypes()) {
    const std::string code = type->code;
    EXPECT_EQ(code.size(), 3u) << code;
    for (char c : code) EXPECT_FALSE(c >= 'a' && c <= 'z') << code;  // compared upper-cased
    EXPECT_TRUE(codes.insert(code).second) << code;
    EXPECT_EQ(importers::FindFileType(code), type);
    EXPECT_NE(type->import, nullptr) << code;
  }
  EXPECT_EQ(importers::FindFileType("XYZ"), nullptr);
  EXPECT_EQ(importers::FindFileType("20p"), nullptr);  // the run upper-cases first
}

// Each file type is one source, src/importers/import_<code>.cpp, and one
// entry of the table: an importer left out of the table would be built but
// never run, and kranzel would refuse its files as an unknown type.
TEST(FileTypesTest, EveryImporterSourceHasItsEntryInTheTable) {
  std::set<std::string> sources;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(KRANZEL_SOURCE_DIR) + "/src/importers")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("import_", 0) != 0 || entry.path().extension() != ".cpp") continue;
    std::string code = entry.path().stem().string().substr(7);
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    sources.insert(code);
    EXPECT_NE(importers::FindFileType(code), nullptr) << name << " has no entry in file_types.cpp";
  }
  EXPECT_EQ(sources.size(), importers::FileTypes().size())
      << "an entry of the table without its own source";
}

// kranzel-check cuts records by these layouts: the fields follow one another
// without overlap and lie inside the longest accepted line, which is the
// first length (the read limit).
TEST(FileTypesTest, LayoutsLieInsideTheReadLimit) {
  for (const importers::FileType* type : importers::FileTypes()) {
    ASSERT_FALSE(type->lengths.empty()) << type->code;
    ASSERT_FALSE(type->layout.empty()) << type->code;
    const long limit = type->lengths.front();
    for (long length : type->lengths) EXPECT_LE(length, limit) << type->code;
    int end = 0;
    for (const importers::Field& f : type->layout) {
      EXPECT_GE(f.offset, end) << type->code << " " << f.column;
      EXPECT_GT(f.length, 0) << type->code << " " << f.column;
      end = f.offset + f.length;
    }
    EXPECT_LE(end, limit) << type->code;
  }
}

TEST(FileTypesTest, LengthsOfTheTwoFormFiles) {
  auto lengths = [](const char* code) {
    const importers::FileType* t = importers::FindFileType(code);
    return t ? std::vector<long>(t->lengths.begin(), t->lengths.end()) : std::vector<long>();
  };
  EXPECT_EQ(lengths("20P"), (std::vector<long>{272}));
  EXPECT_EQ(lengths("SLD"), (std::vector<long>{432, 427}));
  EXPECT_EQ(lengths("IDN"), (std::vector<long>{368, 364}));
  EXPECT_EQ(lengths("FCD"), (std::vector<long>{77, 66, 65}));
}

}  // namespace

namespace {

// The statement formatter writes what snprintf writes with every text's
// apostrophes doubled: numbers of every size (%hd taking its int back as a
// short), texts up to their first NUL as C sees them, %% and the text
// around the conversions.
TEST(StatementFormatTest, SameTextAsPrintfWithApostrophesDoubled) {
  const std::string nul("ab\0'c", 5);
  EXPECT_EQ(
      (db::sqlfmt::FormatEscaped<std::string, const char*, int, short, long, long long,
                                 std::string>(
          "A='%s' B='%s' %d %hd %ld %lld 100%% '%s'", std::string("O'Neil''s"), "", -2147483647 - 1,
          static_cast<short>(-32768), -9223372036854775807L - 1, 123456789012345LL, nul)),
      "A='O''Neil''''s' B='' -2147483648 -32768 -9223372036854775808 123456789012345 "
      "100% 'ab'");
  EXPECT_EQ(db::sqlfmt::FormatEscaped<int>("%hd", 70000), "4464");
  EXPECT_EQ(db::sqlfmt::FormatEscaped<std::string>("'%s'", std::string(300, '\'')),
            "'" + std::string(600, '\'') + "'");
}

}  // namespace
