// The configuration reader: which record answers a lookup, how its fields
// are cut, and what long, short, CR LF and broken files read as.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "config/cipher.h"
#include "config/ini.h"

namespace {

class IniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kranzel_ini_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/Valdura.Ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void Write(const std::string& content) {
    std::ofstream f(path_, std::ios::binary | std::ios::trunc);
    f << content;
  }
  // The tool's lookup: empty section, number 0.
  void Lookup(const std::string& key) { config::ReadIniValue("", key, 0, path_); }

  static std::string Hex(const std::string& plain) {
    return config::EncryptHex(plain, config::kIniKey);
  }
  // A well-formed record: non-empty section, number n.
  static std::string Rec(int n, const std::string& key, const std::string& plain) {
    return "[" + key + "];" + key + ";\n" + std::to_string(n) + ";" + key + ";" + Hex(plain) + "\n";
  }
  static std::string Decrypted(const std::string& hex) {
    return config::PlainText(config::DecryptHex(hex, config::kIniKey));
  }

  std::string dir_;
  std::string path_;
};

TEST_F(IniTest, MatchedRecordFillsAllFourFields) {
  Write(Rec(1, "LOGIN", "kranzel") + Rec(2, "PASS", "geheim"));
  Lookup("PASS");
  EXPECT_EQ(config::IniSection, "PASS");
  EXPECT_EQ(config::IniKey, "PASS");
  EXPECT_EQ(config::IniNumber, 2);
  EXPECT_EQ(config::IniValue, "geheim");
}

TEST_F(IniTest, FirstOfTwoRecordsWithTheKeyWins) {
  Write(Rec(1, "LOGIN", "first") + Rec(2, "LOGIN", "second"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "first");
  EXPECT_EQ(config::IniNumber, 1);
}

TEST_F(IniTest, RecordNumberedZeroAheadAnswersEveryLookup) {
  Write(Rec(0, "OTHER", "shadow") + Rec(1, "LOGIN", "kranzel") + Rec(2, "PASS", "geheim") +
        Rec(3, "DB_SYSTEM", "MSSQL") + Rec(4, "DATABASE", "KRANZELDB"));
  for (const char* key : {"LOGIN", "PASS", "DB_SYSTEM", "DATABASE"}) {
    Lookup(key);
    EXPECT_EQ(config::IniValue, "shadow") << key;
    EXPECT_EQ(config::IniKey, "OTHER") << key;
  }
}

TEST_F(IniTest, NonNumericNumberReadsAsZeroAndShadows) {
  Write("[X];X;\nabc;OTHER;" + Hex("shadow") + "\n" + Rec(1, "LOGIN", "kranzel"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "shadow");
}

TEST_F(IniTest, FirstLineWithFewerThanTwoSeparatorsHasEmptySectionAndShadows) {
  for (const std::string& line1 : {std::string("lead;section\n"), std::string("no separator\n")}) {
    Write(line1 + "7;OTHER;" + Hex("shadow") + "\n" + Rec(1, "LOGIN", "kranzel"));
    Lookup("LOGIN");
    EXPECT_EQ(config::IniSection, "") << line1;
    EXPECT_EQ(config::IniValue, "shadow") << line1;
  }
}

TEST_F(IniTest, KeyComparedWithCase) {
  Write(Rec(1, "login", "lower") + Rec(2, "LOGIN", "upper"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "upper");
}

TEST_F(IniTest, MatchBySectionOrByNumber) {
  Write(Rec(5, "A", "a") + Rec(6, "B", "b") + "x;SEC;y\n7;C;" + Hex("c") + "\n");
  config::ReadIniValue("SEC", "none", 99, path_);
  EXPECT_EQ(config::IniValue, "c");
  config::ReadIniValue("none", "none", 6, path_);
  EXPECT_EQ(config::IniValue, "b");
  EXPECT_EQ(config::IniKey, "B");
}

TEST_F(IniTest, LastRecordWithoutSecondLineIgnored) {
  Write(Rec(1, "A", "a") + "[LOGIN];LOGIN;\n");
  Lookup("LOGIN");
  EXPECT_EQ(config::IniSection, "");  // the lone line 1 would have matched by section otherwise
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniNumber, 0);
  EXPECT_EQ(config::IniValue, "");
}

TEST_F(IniTest, NoMatchOrNoFileLeavesFieldsCleared) {
  Write(Rec(1, "LOGIN", "kranzel") + Rec(2, "PASS", "geheim"));
  Lookup("LOGIN");
  ASSERT_EQ(config::IniValue, "kranzel");
  Lookup("MISSING");
  EXPECT_EQ(config::IniSection, "");
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniNumber, 0);
  EXPECT_EQ(config::IniValue, "");

  Lookup("LOGIN");
  config::ReadIniValue("", "LOGIN", 0, dir_ + "/missing.ini");
  EXPECT_EQ(config::IniSection, "");
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniNumber, 0);
  EXPECT_EQ(config::IniValue, "");
}

TEST_F(IniTest, ValueOfTwoBlocksDecryptsToSixteenCharacters) {
  std::string hex = Hex("0123456789ABCDEF");
  ASSERT_EQ(hex.size(), 32u);
  Write("x;S;\n1;LOGIN;" + hex + "\n");
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "0123456789ABCDEF");
}

TEST_F(IniTest, AdjacentSeparatorsReadAsRestOfLine) {
  // Section between ";;" is the rest of line 1, line end included, so it is
  // not empty and does not answer an empty section.
  Write("lead;;tail\n5;LOGIN;" + Hex("v") + "\n");
  config::ReadIniValue("", "none", 99, path_);
  EXPECT_EQ(config::IniValue, "");
  config::ReadIniValue(";tail\n", "none", 99, path_);
  EXPECT_EQ(config::IniSection, ";tail\n");
  EXPECT_EQ(config::IniValue, "v");

  // Key between ";;" is the rest of line 2; the value after the second ';'.
  Write("a;S;\n5;;" + Hex("w") + "\n");
  config::ReadIniValue("none", ";" + Hex("w") + "\n", 99, path_);
  EXPECT_EQ(config::IniNumber, 5);
  EXPECT_EQ(config::IniValue, "w");

  // A line 2 beginning with ';' has the number 0 (atol of the whole line).
  Write("a;S;\n;LOGIN;" + Hex("z") + "\n");
  config::ReadIniValue("none", "none", 0, path_);
  EXPECT_EQ(config::IniKey, "LOGIN");
  EXPECT_EQ(config::IniValue, "z");
}

TEST_F(IniTest, EmptyValueReadsAsLineEnd) {
  Write("a;S;\n5;LOGIN;\n");
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, Decrypted("\n"));
  EXPECT_NE(config::IniValue, "");
}

TEST_F(IniTest, SecondLineWithOneSeparatorHasEmptyKey) {
  Write("a;S;\n5;" + Hex("one") + "\n");
  config::ReadIniValue("none", "", 99, path_);
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniNumber, 5);
  EXPECT_EQ(config::IniValue, "one");
}

TEST_F(IniTest, SecondLineWithoutSeparator) {
  // Key empty, number atol of the line, value the whole line up to its end.
  Write("a;S;\n42ABC\n");
  config::ReadIniValue("none", "", 99, path_);
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniNumber, 42);
  EXPECT_EQ(config::IniValue, Decrypted("42ABC"));
}

TEST_F(IniTest, ValueWithoutLineEndStaysEmpty) {
  Write("a;S;\n5;LOGIN;" + Hex("v"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniKey, "LOGIN");
  EXPECT_EQ(config::IniValue, "");
}

TEST_F(IniTest, NumberParsedLikeAtolFromFifteenCharacters) {
  EXPECT_EQ(config::ini::ParseNumber("  -7x"), -7);
  EXPECT_EQ(config::ini::ParseNumber("+12"), 12);
  EXPECT_EQ(config::ini::ParseNumber("\t 3 4"), 3);
  EXPECT_EQ(config::ini::ParseNumber("x1"), 0);
  EXPECT_EQ(config::ini::ParseNumber("-"), 0);
  EXPECT_EQ(config::ini::ParseNumber("2147483647"), 2147483647);
  EXPECT_EQ(config::ini::ParseNumber("2147483648"), 2147483647);
  EXPECT_EQ(config::ini::ParseNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(config::ini::ParseNumber("-99999999999999"), -2147483647 - 1);
  // Only 15 characters count: the digits after them are not seen.
  EXPECT_EQ(config::ini::ParseNumber("000000000000000042"), 0);
  EXPECT_EQ(config::ini::ParseNumber("              12"), 1);

  Write("a;S;\n000000000000000042;OTHER;" + Hex("zero") + "\n" + Rec(1, "LOGIN", "kranzel"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "zero");
}

TEST_F(IniTest, LineLimitsAreExact) {
  // Line 1 of 198 characters plus line end is read whole ...
  std::string line1 = "x;S;" + std::string(194, 'y') + "\n";
  ASSERT_EQ(line1.size(), 199u);
  Write(line1 + "1;LOGIN;" + Hex("kranzel") + "\n");
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "kranzel");
  // ... one more character and its line end is read as line 2 (number 0,
  // so it answers the lookup with the line end as value).
  Write("x;S;" + std::string(195, 'y') + "\n1;LOGIN;" + Hex("kranzel") + "\n");
  Lookup("LOGIN");
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniSection, "S");
  EXPECT_EQ(config::IniValue, Decrypted("\n"));

  // Line 2 of 398 characters plus line end is read whole.
  std::string value = Hex("kranzel");
  std::string line2 = "1;LOGIN;" + value;
  line2 += std::string(398 - line2.size(), '0');
  Write("x;S;\n" + line2 + "\n" + Rec(2, "PASS", "geheim"));
  Lookup("PASS");
  EXPECT_EQ(config::IniValue, "geheim");
  Write("x;S;\n" + line2 + "0\n" + Rec(2, "PASS", "geheim"));
  Lookup("PASS");
  EXPECT_NE(config::IniValue, "geheim");
}

TEST_F(IniTest, LongLineReadInPiecesPutsLaterRecordsOutOfStep) {
  // Line 1 of the first record is 251 characters: its rest is read as line
  // 2, and from there every line 1 is taken as line 2 and the other way.
  Write("L;S1;" + std::string(245, 'x') + "\n" +  //
        "1;K1;" + Hex("one") + "\n" +             //
        "L;S2;\n" +                               //
        "2;K2;" + Hex("two") + "\n");
  config::ReadIniValue("none", "K2", 99, path_);
  EXPECT_EQ(config::IniValue, "");  // K2's line 2 is left as a last line alone
  config::ReadIniValue("K1", "none", 99, path_);
  EXPECT_EQ(config::IniKey, "S2");
  EXPECT_EQ(config::IniNumber, 0);
  // The rest of the long line has no ';' and reads as number 0.
  config::ReadIniValue("none", "none", 0, path_);
  EXPECT_EQ(config::IniSection, "S1");
  EXPECT_EQ(config::IniKey, "");
}

TEST_F(IniTest, FieldsCutAtTwoHundredCharacters) {
  std::string longKey(300, 'K');
  std::string plain(150, 'p');
  std::string hex = Hex(plain);
  ASSERT_GT(hex.size(), 200u);
  Write("a;" + std::string(190, 'S') + ";\n1;" + longKey + ";" + hex.substr(0, 80) + "\n" +
        "a;S;\n2;LOGIN;" + hex + "\n");
  config::ReadIniValue("none", "none", 1, path_);
  EXPECT_EQ(config::IniKey, std::string(200, 'K'));
  EXPECT_EQ(config::IniSection, std::string(190, 'S'));
  Lookup("LOGIN");
  // Only 200 digits are read: 12 whole blocks and half of the thirteenth.
  EXPECT_EQ(config::IniValue,
            config::PlainText(config::DecryptHex(hex.substr(0, 200), config::kIniKey)));
  EXPECT_EQ(config::IniValue.substr(0, 96), plain.substr(0, 96));
  EXPECT_NE(config::IniValue.substr(0, 104), plain.substr(0, 104));
}

TEST_F(IniTest, CrLfFileReadsLikeLfFile) {
  std::string lf = Rec(1, "A", "a") + "lead;;tail\n2;LOGIN;" + Hex("kranzel") + "\n" +
                   "x;S;\n3;PASS;\n" + "x;Y;\n4;;" + Hex("k") + "\n" + Rec(5, "DATABASE", "DB");
  std::string crlf;
  for (char c : lf) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  struct Result {
    std::string section, key, value;
    std::int32_t number;
  };
  auto read = [&](const std::string& content) {
    Write(content);
    std::vector<Result> results;
    for (const char* key : {"A", "LOGIN", "PASS", "DATABASE", "none"}) {
      for (const char* section : {"", ";tail\n", "S", "Y"}) {
        for (int number : {0, 1, 4, 99}) {
          config::ReadIniValue(section, key, number, path_);
          results.push_back(
              {config::IniSection, config::IniKey, config::IniValue, config::IniNumber});
        }
      }
    }
    return results;
  };
  std::vector<Result> fromLf = read(lf);
  std::vector<Result> fromCrLf = read(crlf);
  ASSERT_EQ(fromLf.size(), fromCrLf.size());
  for (std::size_t i = 0; i < fromLf.size(); ++i) {
    EXPECT_EQ(fromLf[i].section, fromCrLf[i].section) << i;
    EXPECT_EQ(fromLf[i].key, fromCrLf[i].key) << i;
    EXPECT_EQ(fromLf[i].value, fromCrLf[i].value) << i;
    EXPECT_EQ(fromLf[i].number, fromCrLf[i].number) << i;
  }
  Write(crlf);
  config::ReadIniValue(";tail\n", "none", 99, path_);
  EXPECT_EQ(config::IniValue, "kranzel");
}

TEST_F(IniTest, CtrlZEndsTheFile) {
  Write(Rec(1, "A", "a") + "\x1A" + Rec(2, "LOGIN", "kranzel"));
  Lookup("LOGIN");
  EXPECT_EQ(config::IniValue, "");
}

TEST_F(IniTest, AnyInputStaysWithinFieldLimits) {
  // Random lines of separators, line ends, CRs, Ctrl-Z and NUL bytes: the
  // fields never exceed their capacity (and ASan sees no access outside).
  std::mt19937 random(20261208);
  const char symbols[] = ";;;;\n\r\x1A\0AB0F9az ";
  const std::string alphabet(symbols, sizeof symbols - 1);
  for (int round = 0; round < 300; ++round) {
    std::string content;
    std::size_t length = random() % 2000;
    for (std::size_t i = 0; i < length; ++i) {
      content += random() % 5 == 0 ? alphabet[random() % alphabet.size()]
                                   : static_cast<char>('0' + random() % 10);
    }
    Write(content);
    config::ReadIniValue("", "", static_cast<std::int32_t>(random() % 3), path_);
    EXPECT_LE(config::IniSection.size(), 200u);
    EXPECT_LE(config::IniKey.size(), 200u);
    EXPECT_LE(config::IniValue.size(), 104u);
  }
}

}  // namespace
