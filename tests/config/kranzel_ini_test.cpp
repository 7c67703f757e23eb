// kranzel-ini, run as the real binary: what `set` writes is what kranzel
// reads, `get` answers as kranzel's lookup does, `check` names every layout
// that makes kranzel read wrong credentials, and bad use fails clearly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/ini.h"
#include "support/files.h"

// AddressSanitizer reserves far more address space than any limit allows.
#if defined(__SANITIZE_ADDRESS__)
#define KRANZEL_TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KRANZEL_TEST_UNDER_ASAN 1
#endif
#endif

namespace {

using support::Slurp;
using support::Spit;

struct Outcome {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class KranzelIniTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/kranzel_ini_tool_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    file_ = dir_ + "/Valdura.Ini";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs kranzel-ini with `args`, feeding `input` on standard input.
  Outcome Run(const std::vector<std::string>& args, const std::string& input = "") {
    const std::string in = dir_ + "/.in", out = dir_ + "/.out", err = dir_ + "/.err";
    Spit(in, input);
    pid_t pid = fork();
    if (pid == 0) {
      int fdIn = open(in.c_str(), O_RDONLY);
      int fdOut = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int fdErr = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fdIn < 0 || fdOut < 0 || fdErr < 0) _exit(127);
      // A run that blocks is ended by the alarm, and one that reads without
      // end by its memory limit, instead of hanging the test or the machine.
      alarm(20);
#if !defined(KRANZEL_TEST_UNDER_ASAN)
      const rlimit memory{std::size_t{1} << 30, std::size_t{1} << 30};
      setrlimit(RLIMIT_AS, &memory);
#endif
      dup2(fdIn, 0);
      dup2(fdOut, 1);
      dup2(fdErr, 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(KRANZEL_INI_BIN));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KRANZEL_INI_BIN, argv.data());
      _exit(127);
    }
    Outcome outcome;
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = Slurp(out);
    outcome.err = Slurp(err);
    return outcome;
  }

  static std::string Hex(const std::string& plain) {
    return config::EncryptHex(plain, config::kIniKey);
  }
  static std::string Rec(const std::string& number, const std::string& key,
                         const std::string& hex) {
    return "[" + key + "];" + key + ";\n" + number + ";" + key + ";" + hex + "\n";
  }
  // A file kranzel reads correctly.
  static std::string GoodFile() {
    return Rec("1", "LOGIN", Hex("kranzel")) + Rec("2", "PASS", Hex("geheim")) +
           Rec("3", "DB_SYSTEM", Hex("MSSQL")) + Rec("4", "DATABASE", Hex("KRANZELDB"));
  }
  // What kranzel's lookup reads for `key`.
  std::string Tool(const std::string& key) {
    config::ReadIniValue("", key, 0, file_);
    return config::IniValue;
  }
  void SetOk(const std::string& key, const std::string& value) { SetOk(file_, key, value); }
  void SetOk(const std::string& file, const std::string& key, const std::string& value) {
    Outcome o = Run({"set", file, key, value});
    ASSERT_EQ(o.exitCode, 0) << o.err;
  }

  std::string dir_;
  std::string file_;
};

TEST_F(KranzelIniTest, SetFileReadBackByGetAndByTheTool) {
  SetOk("LOGIN", "kranzel");
  SetOk("PASS", "geheim");
  SetOk("DB_SYSTEM", "MSSQL");
  SetOk("DATABASE", "KRANZELDB");
  EXPECT_EQ(Tool("LOGIN"), "kranzel");
  EXPECT_EQ(Tool("PASS"), "geheim");
  EXPECT_EQ(Tool("DB_SYSTEM"), "MSSQL");
  EXPECT_EQ(Tool("DATABASE"), "KRANZELDB");

  Outcome login = Run({"get", file_, "LOGIN"});
  EXPECT_EQ(login.exitCode, 0);
  EXPECT_EQ(login.out, "kranzel\n");
  Outcome check = Run({"check", file_});
  EXPECT_EQ(check.exitCode, 0) << check.out;
  EXPECT_EQ(check.out, file_ + ": ok\n");
}

TEST_F(KranzelIniTest, PasswordPrintedOnlyWhenAsked) {
  SetOk("PASS", "s3cret-pw");
  Outcome hidden = Run({"get", file_, "PASS"});
  EXPECT_EQ(hidden.exitCode, 0);
  EXPECT_EQ(hidden.out.find("s3cret-pw"), std::string::npos);
  EXPECT_EQ(hidden.err.find("s3cret-pw"), std::string::npos);
  EXPECT_NE(hidden.out.find("9 characters"), std::string::npos) << hidden.out;
  Outcome shown = Run({"get", file_, "PASS", "--show-password"});
  EXPECT_EQ(shown.exitCode, 0);
  EXPECT_EQ(shown.out, "s3cret-pw\n");
  Outcome check = Run({"check", file_});
  EXPECT_EQ((check.out + check.err).find("s3cret-pw"), std::string::npos);
}

TEST_F(KranzelIniTest, SetRecordsNeverAnswerAnotherKey) {
  SetOk("LOGIN", "kranzel");
  SetOk("DB_SYSTEM", "MSSQL");
  config::ReadIniValue("", "PASS", 0, file_);
  EXPECT_EQ(config::IniKey, "");
  EXPECT_EQ(config::IniValue, "");
  Outcome get = Run({"get", file_, "PASS"});
  EXPECT_EQ(get.exitCode, 1);
  EXPECT_NE(get.err.find("no record answers the lookup of PASS"), std::string::npos);
}

TEST_F(KranzelIniTest, SetReplacesFirstRecordAndKeepsOthersByteForByte) {
  const std::string foreign = "mail;MAIL;x\n7;SMTP;" + Hex("mail.example") + "\n";
  const std::string login = Rec("5", "LOGIN", Hex("old"));
  const std::string second = Rec("6", "LOGIN", Hex("second"));
  Spit(file_, foreign + login + second + Rec("2", "PASS", Hex("geheim")));
  SetOk("LOGIN", "new");
  std::string after = Slurp(file_);
  EXPECT_EQ(after.substr(0, foreign.size()), foreign);
  EXPECT_EQ(after.substr(foreign.size(), login.size()), Rec("5", "LOGIN", Hex("new")));
  EXPECT_EQ(after.substr(foreign.size() + login.size()), second + Rec("2", "PASS", Hex("geheim")));
  EXPECT_EQ(Tool("LOGIN"), "new");
}

TEST_F(KranzelIniTest, SetRenumbersRecordThatWouldShadow) {
  // The LOGIN record numbered 0 answers every lookup; rewritten, it gets a
  // number of its own.
  Spit(file_, Rec("0", "LOGIN", Hex("old")) + Rec("1", "PASS", Hex("geheim")));
  SetOk("LOGIN", "new");
  EXPECT_EQ(Tool("LOGIN"), "new");
  EXPECT_EQ(Tool("PASS"), "geheim");
  config::ini::LookupResult found = config::ini::Lookup("", "LOGIN", 0, file_);
  EXPECT_EQ(found.record.number, 2);
}

TEST_F(KranzelIniTest, SetKeepsCrLfFile) {
  const std::string old = "[LOGIN];LOGIN;\r\n1;LOGIN;" + Hex("kranzel") + "\r\n";
  Spit(file_, old);
  SetOk("PASS", "geheim");
  std::string after = Slurp(file_);
  EXPECT_EQ(after.substr(0, old.size()), old);
  EXPECT_EQ(after.substr(old.size()), "[PASS];PASS;\r\n2;PASS;" + Hex("geheim") + "\r\n");
  EXPECT_EQ(Tool("LOGIN"), "kranzel");
  EXPECT_EQ(Tool("PASS"), "geheim");
}

TEST_F(KranzelIniTest, SetAddsLineEndToLastLineAndKeepsOrphanLast) {
  const std::string rec = Rec("1", "LOGIN", Hex("kranzel"));
  Spit(file_, rec.substr(0, rec.size() - 1));  // last line without line end
  SetOk("PASS", "geheim");
  EXPECT_EQ(Tool("LOGIN"), "kranzel");
  EXPECT_EQ(Tool("PASS"), "geheim");

  Spit(file_, rec + "\n");  // a blank last line: a record without line 2
  SetOk("PASS", "geheim");
  std::string after = Slurp(file_);
  EXPECT_EQ(after.back(), '\n');
  EXPECT_EQ(after.substr(after.size() - 2), "\n\n");
  EXPECT_EQ(Tool("PASS"), "geheim");
}

TEST_F(KranzelIniTest, SetEmptyValueReadsEmpty) {
  SetOk("PASS", "");
  EXPECT_EQ(Tool("PASS"), "");
  config::ini::LookupResult found = config::ini::Lookup("", "PASS", 0, file_);
  EXPECT_TRUE(found.matched);
  EXPECT_EQ(found.record.value.size(), 16u);  // not an empty hex text
  Outcome get = Run({"get", file_, "PASS", "--show-password"});
  EXPECT_EQ(get.out, "\n");
}

TEST_F(KranzelIniTest, SetReadsValueFromStandardInput) {
  Outcome o = Run({"set", file_, "PASS", "-"}, "from stdin\r\nsecond line\n");
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(Tool("PASS"), "from stdin");
}

TEST_F(KranzelIniTest, SetLongestValueAndRefusesLonger) {
  SetOk("LOGIN", std::string(96, 'd'));
  EXPECT_EQ(Tool("LOGIN"), std::string(96, 'd'));
  std::string before = Slurp(file_);
  Outcome o = Run({"set", file_, "LOGIN", std::string(97, 'd')});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("longer than 96"), std::string::npos) << o.err;
  EXPECT_EQ(Slurp(file_), before);
}

TEST_F(KranzelIniTest, SetRefusesBadKeysAndLeavesFileAlone) {
  Spit(file_, GoodFile());
  for (const std::string& key : {std::string(""), std::string("A;B"), std::string(100, 'K')}) {
    Outcome o = Run({"set", file_, key, "v"});
    EXPECT_EQ(o.exitCode, 2) << key;
    EXPECT_NE(o.err.find("kranzel-ini: "), std::string::npos);
  }
  EXPECT_EQ(Slurp(file_), GoodFile());
}

TEST_F(KranzelIniTest, SetRefusesWhenTheToolWouldMisreadTheRecord) {
  // A line 1 longer than the tool reads puts every later record out of step.
  const std::string broken = "x;S;" + std::string(250, 'y') + "\n1;A;" + Hex("a") + "\n";
  Spit(file_, broken);
  Outcome o = Run({"set", file_, "LOGIN", "kranzel"});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("misread"), std::string::npos) << o.err;
  EXPECT_EQ(Slurp(file_), broken);
  std::vector<std::string> leftovers;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    if (entry.path().filename().string().find("kranzel-ini") != std::string::npos) {
      leftovers.push_back(entry.path());
    }
  }
  EXPECT_TRUE(leftovers.empty());
}

TEST_F(KranzelIniTest, SetThroughSymbolicLinkKeepsTheLink) {
  Spit(file_, GoodFile());
  const std::string link = dir_ + "/link.ini";
  std::filesystem::create_symlink(file_, link);
  SetOk(link, "LOGIN", "other");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Tool("LOGIN"), "other");
}

TEST_F(KranzelIniTest, GetTellsWhenAnotherRecordAnswers) {
  Spit(file_, "lead;section\n9;OTHER;" + Hex("shadow") + "\n" + GoodFile());
  Outcome o = Run({"get", file_, "LOGIN"});
  EXPECT_EQ(o.exitCode, 0);
  EXPECT_EQ(o.out, "shadow\n");
  EXPECT_NE(o.err.find(":1 (key 'OTHER')"), std::string::npos) << o.err;
}

struct CheckCase {
  const char* name;
  std::string content;
  std::string expected;  // a line of the output
};

TEST_F(KranzelIniTest, CheckFlagsEachProblemKind) {
  const std::string good = GoodFile();
  const std::string login = Rec("1", "LOGIN", Hex("kranzel"));
  const std::string afterLogin = good.substr(login.size());  // PASS, DB_SYSTEM, DATABASE
  const std::string beforeDatabase = good.substr(0, good.rfind("[DATABASE]"));
  const std::string allFour = "LOGIN, PASS, DB_SYSTEM and DATABASE";
  const std::vector<CheckCase> cases = {
      {"number 0 ahead", Rec("0", "OTHER", Hex("x")) + good,
       ":1: the record with key 'OTHER' answers the tool's lookup of " + allFour +
           " (its number is 0 or not a number)"},
      {"number not numeric", Rec("abc", "OTHER", Hex("x")) + good,
       ":1: the record with key 'OTHER' answers the tool's lookup of " + allFour +
           " (its number is 0 or not a number)"},
      {"one ';' in line 1", login + "lead;x\n9;OTHER;" + Hex("x") + "\n" + afterLogin,
       ":3: the record with key 'OTHER' answers the tool's lookup of PASS, DB_SYSTEM and "
       "DATABASE (its first line has fewer than two ';', so its section is empty)"},
      {"missing key", beforeDatabase, ": no record for DATABASE"},
      {"DATABASE of 41", beforeDatabase + Rec("4", "DATABASE", Hex(std::string(41, 'D'))),
       ":8: the DATABASE value has 41 characters"},
      {"DATABASE of 33", beforeDatabase + Rec("4", "DATABASE", Hex(std::string(33, 'D'))),
       ":8: the DATABASE value has 33 characters; the ODBC driver manager refuses data-source "
       "names over 32"},
      {"empty DATABASE", beforeDatabase + Rec("4", "DATABASE", Hex(std::string(8, '\0'))),
       ":8: the DATABASE value is empty"},
      {"lower-case hex", Rec("1", "LOGIN", "8068d9f028f3140d") + afterLogin,
       ":2: the value of LOGIN holds lower-case hexadecimal digits"},
      {"empty value", Rec("1", "LOGIN", "") + afterLogin, ":2: the value of LOGIN is empty"},
      {"not whole blocks", Rec("1", "LOGIN", Hex("kranzel").substr(0, 15)) + afterLogin,
       ":2: the value of LOGIN is not whole blocks of 16 hexadecimal digits"},
      {"last record without line 2", good + "[X];X;\n",
       ":9: the last record has no second line; the tool ignores it"},
      {"long line", "x;S;" + std::string(200, 'y') + "\n5;A;" + Hex("a") + "\n" + good,
       ":1: longer than 198 characters (first line of a record)"},
      {"second record", good + Rec("5", "PASS", Hex("other")),
       ":9: a second record for PASS; the tool reads only the first (line 3)"},
      {"Ctrl-Z", login + "\x1A" + good,
       ":3: a Ctrl-Z character; the tool stops reading the file there"},
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Spit(file_, c.content);
    Outcome o = Run({"check", file_});
    EXPECT_EQ(o.exitCode, 1) << o.out;
    EXPECT_NE(o.out.find(file_ + c.expected), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find(": ok"), std::string::npos);
  }
}

TEST_F(KranzelIniTest, CheckAcceptsLongestDatabaseAndLaterShadows) {
  // A record numbered 0 after all four keys answers none of their lookups.
  Spit(file_, GoodFile().substr(0, GoodFile().rfind("[DATABASE]")) +
                  Rec("4", "DATABASE", Hex(std::string(32, 'D'))) + Rec("0", "OTHER", Hex("x")) +
                  "[Y]\n");
  Outcome o = Run({"check", file_});
  EXPECT_EQ(o.out.find("DATABASE value"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("OTHER"), std::string::npos) << o.out;
  EXPECT_EQ(o.exitCode, 1);  // only for the orphan line at the end
  EXPECT_NE(o.out.find(":11: the last record has no second line"), std::string::npos) << o.out;
}

TEST_F(KranzelIniTest, NewFileIsOwnerOnlyAndReadableFileIsWarnedAbout) {
  namespace fs = std::filesystem;
  const mode_t mask = umask(0);
  umask(mask & ~static_cast<mode_t>(066));  // a umask that would let everyone read
  Outcome created = Run({"set", file_, "PASS", "-"}, "geheim\n");
  umask(mask);
  ASSERT_EQ(created.exitCode, 0) << created.err;
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(created.err.find("may be read"), std::string::npos) << created.err;

  // An existing file keeps its mode; a password file others can read is
  // warned about by check and by set PASS, without changing either's result.
  Spit(file_, GoodFile());
  fs::permissions(file_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                             fs::perms::others_read);
  Outcome check = Run({"check", file_});
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_NE(check.err.find("kranzel-ini: warning: " + file_ +
                           " (mode 0644) may be read by group and others"),
            std::string::npos)
      << check.err;
  Outcome set = Run({"set", file_, "PASS", "-"}, "neu\n");
  EXPECT_EQ(set.exitCode, 0);
  EXPECT_NE(set.err.find("(mode 0644) may be read by group and others"), std::string::npos);
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  EXPECT_EQ(Tool("PASS"), "neu");
}

TEST_F(KranzelIniTest, ValuesTheToolWouldNotUseAreRefusedWithTheirLimit) {
  Spit(file_, GoodFile());
  SetOk("DATABASE", std::string(32, 'D'));  // the longest name the driver manager takes
  EXPECT_EQ(Tool("DATABASE"), std::string(32, 'D'));
  const std::string before = Slurp(file_);
  for (const std::string& value : {std::string(33, 'D'), std::string(40, 'D'), std::string()}) {
    Outcome o = Run({"set", file_, "DATABASE", value});
    EXPECT_EQ(o.exitCode, 2) << value.size();
    EXPECT_NE(o.err.find("the DATABASE value must have 1 to 32 characters, not " +
                         std::to_string(value.size())),
              std::string::npos)
        << o.err;
  }
  EXPECT_EQ(Slurp(file_), before);

  // decrypt takes only what the file stores: upper-case digits, whole blocks.
  const std::string hex = Hex("geheim");
  std::string lower = hex;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& bad :
       {lower, hex.substr(0, 15), hex + "0", std::string("XYZ0123456789ABC")}) {
    Outcome o = Run({"decrypt", bad});
    EXPECT_EQ(o.exitCode, 2) << bad;
    EXPECT_EQ(o.out, "") << bad;
    EXPECT_NE(o.err.find("whole blocks of 16"), std::string::npos) << o.err;
  }

  Outcome version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "kranzel-ini " KRANZEL_VERSION "\n");
}

TEST_F(KranzelIniTest, EncryptAndDecryptPrintValues) {
  Outcome enc = Run({"encrypt", "geheim123"});
  EXPECT_EQ(enc.exitCode, 0);
  EXPECT_EQ(enc.out, Hex("geheim123") + "\n");
  EXPECT_EQ(enc.out.size(), 33u);
  Outcome dec = Run({"decrypt", Hex("geheim123")});
  EXPECT_EQ(dec.exitCode, 0);
  EXPECT_EQ(dec.out, "geheim123\n");
}

TEST_F(KranzelIniTest, BadArgumentsAndUnreadableFilesExitTwo) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"encrypt"},
      {"decrypt", "AB", "CD"},
      {"set", file_, "LOGIN"},
      {"get", file_},
      {"get", file_, "PASS", "--show-passwort"},
      {"check"},
      {"check", dir_ + "/missing.ini"},
      {"check", dir_},
      {"get", dir_ + "/missing.ini", "LOGIN"},
      {"get", dir_, "LOGIN"},
      {"set", dir_ + "/no/such/dir/Valdura.Ini", "LOGIN", "x"},
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    Outcome o = Run(args);
    EXPECT_EQ(o.exitCode, 2) << joined;
    EXPECT_EQ(o.err.rfind("kranzel-ini: ", 0), 0u) << joined << o.err;
    EXPECT_EQ(o.out, "") << joined;
  }
  Outcome help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("kranzel-ini check FILE"), std::string::npos);
}

TEST_F(KranzelIniTest, FifoAndDeviceAreRefusedAtOnceWithTheirReason) {
  // A FIFO without a writer would block the open; /dev/zero never ends.
  const std::string fifo = dir_ + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> files = {
      {fifo, "not a regular file (a FIFO)"},
      {"/dev/zero", "not a regular file (a character device)"}};
  for (const auto& [file, reason] : files) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"check", file}, {"set", file, "LOGIN", "kranzel"}, {"get", file, "LOGIN"}}) {
      SCOPED_TRACE(args[0] + " " + file);
      Outcome o = Run(args);
      EXPECT_EQ(o.exitCode, 2);
      EXPECT_EQ(o.err, "kranzel-ini: cannot open " + file + ": " + reason + "\n");
      EXPECT_EQ(o.out, "");
    }
  }
  struct stat st {};
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "set must not replace what it refused";
}

TEST_F(KranzelIniTest, CheckFailsForAValueThatDecryptsToUnprintableBytes) {
  // PASS encrypted under another key: kranzel would log in with garbage.
  Spit(file_, Rec("1", "LOGIN", Hex("kranzel")) +
                  Rec("2", "PASS", config::EncryptHex("geheim", "ANDERS")) +
                  Rec("3", "DB_SYSTEM", Hex("MSSQL")) + Rec("4", "DATABASE", Hex("KRANZELDB")));
  Outcome o = Run({"check", file_});
  EXPECT_EQ(o.exitCode, 1) << o.out;
  EXPECT_NE(o.out.find(file_ + ":4: the value of PASS decrypts to unprintable bytes"),
            std::string::npos)
      << o.out;
  // Written again with the right key, and with printable non-ASCII text
  // (Windows-1252 umlauts and the euro sign), the file is fine.
  SetOk("PASS",
        "Gr\xfc\xdf"
        "e\x80");
  Outcome fixed = Run({"check", file_});
  EXPECT_EQ(fixed.exitCode, 0) << fixed.out;
}

}  // namespace
