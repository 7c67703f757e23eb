// The stand-in's TDS listener as FreeTDS and a hostile client see it: the
// same table bytes as the in-process driver, FreeTDS's tsql running queries
// and seeing the server's native errors, bad packets that never bring the
// listener down, a missing database refused at start. And the tool through
// FreeTDS against a server that takes the connection and never answers.
// (The import suites themselves run through the listener in the ctest
// entry e2e_through_freetds.)
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e/harness.h"
#include "e2e/tds_raw_client.h"
#include "support/files.h"

using e2e::Installation;
using e2e::Login7;
using e2e::Path;
using e2e::RawClient;
using e2e::Row;
using e2e::Ucs2;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

#ifndef STANDIN_SERVER
#define STANDIN_SERVER ""
#endif

namespace {

#define SKIP_WITHOUT_FREETDS()                                                                \
  do {                                                                                        \
    if (!e2e::TdsUnavailable().empty()) GTEST_SKIP() << "skipped: " << e2e::TdsUnavailable(); \
  } while (0)

std::string Line20P(const std::string& trm, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {"A", 2}, {"1", 1}, {"12345", 5}, {"0800", 4}, {ofb, 4}});
}

// Runs tsql against the listener with `input` on its standard input;
// returns what it printed (standard output and error).
std::string Tsql(Installation& db, int port, const std::string& password,
                 const std::string& input) {
#ifndef TSQL_BIN
  (void)db, (void)port, (void)password, (void)input;
  return "";
#else
  std::string in = db.root + "/tsql-input.txt";
  std::ofstream(in) << input;
  std::string cmd = "FREETDSCONF=" + db.odbcDir +
                    "/freetds.conf TDSVER=7.4 " TSQL_BIN " -H 127.0.0.1 -p " +
                    std::to_string(port) + " -U kranzel -P " + password + " < " + in + " 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
#endif
}

std::string Batch(const std::string& sql) {
  std::string headers = {22, 0, 0, 0, 18,
                         0,  0, 0, 2, 0};  // ALL_HEADERS with a transaction descriptor
  headers += std::string(8, '\0') + std::string{1, 0, 0, 0};
  return headers + Ucs2(sql);
}

// The tokens of a reply without result sets (ENVCHANGE, ERROR, INFO,
// RETURNSTATUS, RETURNVALUE of an int, the DONE kinds), as "type:value"
// words: "E3:8" an ENVCHANGE of type 8, "AA:2627" an ERROR, "FD:1" a DONE
// with its row count, "FF:0" a DONEINPROC, "FE:0" a DONEPROC, "79:0" a
// return status, "AC:5" an output value; "?" where it cannot read on.
std::vector<std::string> Tokens(const std::string& r) {
  std::vector<std::string> out;
  auto u8 = [&](std::size_t i) { return static_cast<unsigned char>(r[i]); };
  auto le = [&](std::size_t i, int n) {
    unsigned long long v = 0;
    for (int k = 0; k < n; ++k)
      v |= static_cast<unsigned long long>(u8(i + static_cast<std::size_t>(k))) << (8 * k);
    return v;
  };
  std::size_t i = 0;
  char buf[32];
  while (i < r.size()) {
    unsigned t = u8(i);
    if (t == 0xE3 || t == 0xAA || t == 0xAB || t == 0xAD) {
      std::size_t len = le(i + 1, 2);
      unsigned long long v = t == 0xE3 ? u8(i + 3) : t == 0xAD ? 0 : le(i + 3, 4);
      std::snprintf(buf, sizeof buf, "%02X:%llu", t, v);
      i += 3 + len;
    } else if (t == 0xFD || t == 0xFE || t == 0xFF) {
      std::snprintf(buf, sizeof buf, "%02X:%llu", t, le(i + 5, 8));
      i += 13;
    } else if (t == 0x79) {
      std::snprintf(buf, sizeof buf, "79:%llu", le(i + 1, 4));
      i += 5;
    } else if (t == 0xAC) {
      std::size_t name = std::size_t{u8(i + 3)} * 2;
      std::size_t at = i + 4 + name + 1 + 4 + 2 + 2;  // status, user type, flags, INTN and its size
      std::snprintf(buf, sizeof buf, "AC:%llu", le(at + 1, 4));
      i = at + 5;
    } else {
      out.emplace_back("?");
      break;
    }
    out.emplace_back(buf);
  }
  return out;
}

std::string U16Le(std::size_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

// An NVARCHAR(4000) RPC parameter.
std::string NVarcharParam(const std::string& name, const std::string& value) {
  std::string p = std::string(1, static_cast<char>(name.size())) + Ucs2(name) + '\0';
  p += '\xe7' + U16Le(8000) + std::string{0x09, 0x04, '\xd0', 0x00, 0x34};
  return p + U16Le(value.size() * 2) + Ucs2(value);
}

// An RPC request calling sp_executesql (procedure number 10).
std::string ExecuteSql(const std::string& sql, const std::string& declarations,
                       const std::string& params) {
  std::string headers = {22, 0, 0, 0, 18, 0, 0, 0, 2, 0};
  headers += std::string(8, '\0') + std::string{1, 0, 0, 0};
  return headers + "\xff\xff" + U16Le(10) + U16Le(0) + NVarcharParam("", sql) +
         NVarcharParam("", declarations) + params;
}

// A transaction manager request: 5 begin, 7 commit, 8 rollback.
std::string Tm(int type) {
  std::string headers = {22, 0, 0, 0, 18, 0, 0, 0, 2, 0};
  headers += std::string(8, '\0') + std::string{1, 0, 0, 0};
  std::string body = U16Le(static_cast<std::size_t>(type));
  body += std::string{0, 0};  // isolation level and name (begin) / name and flags (the others)
  return headers + body;
}

using support::Slurp;

// True once the listener's log holds `text` (waiting up to 10 s). A session's
// thread sees its client's socket close only a moment later: a test that
// goes on with another session first waits for what the end of the first
// one did.
bool ListenerLogged(const Installation& db, const std::string& text) {
  for (int i = 0; i < 1000; ++i) {
    if (Slurp(db.root + "/listener.log").find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(TdsListener, SessionsRunSideBySideBoundedAndKranzelImportsMeanwhile) {
  SKIP_WITHOUT_FREETDS();
  Installation db(Path::Tds);
  db.SetDsnAttribute("User", "");
  db.SetDsnAttribute("Password", "");
  int port = db.StartListener();

  // Sixteen sessions at once, each answered; the seventeenth login is
  // refused as SQL Server refuses it, the session's slot served again once
  // one of them has gone.
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(std::make_unique<RawClient>(port));
    ASSERT_TRUE(clients.back()->LogIn()) << "session " << i;
  }
  {
    RawClient extra(port);
    extra.SendPacket(0x10, Login7("", ""));
    EXPECT_THAT(Tokens(extra.Reply()), ::testing::Contains("AA:17809"));
    EXPECT_TRUE(extra.ClosedByListener());
  }
  clients.resize(2);
  bool loggedIn = false;
  for (int i = 0; i < 50 && !loggedIn; ++i) {
    RawClient again(port);
    loggedIn = again.LogIn();
    if (!loggedIn) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(loggedIn);

  // The tool imports through the listener while one session sits idle,
  // another reads and writes, and a third keeps its login coming, a packet
  // every 2 s, but never ends it: that one is dropped once its login is not
  // complete 10 s after the connect.
  bool slowDropped = false;
  double slowSeconds = 0;
  std::thread slow([&] {
    RawClient c(port);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 9 && !slowDropped; ++i) {
      c.SendPacket(0x10, std::string(1, '\0'), false);
      std::this_thread::sleep_for(std::chrono::seconds(2));
      slowDropped = c.ClosedWithoutWaiting();
    }
    slowSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  });

  RawClient& idle = *clients[0];
  RawClient& other = *clients[1];
  other.SendPacket(0x01, Batch("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P"));
  EXPECT_FALSE(other.Reply().empty());
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700") + Line20P("TERM02", "1800"));
  auto r = db.RunCommand({KRANZEL_BIN, "in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0) << db.Stderr();
  other.SendPacket(0x01,
                   Batch("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1900' WHERE M20Trm = 'TERM02'"));
  EXPECT_THAT(Tokens(other.Reply()), ElementsAre("FD:1"));
  EXPECT_EQ(db.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm"),
            (std::vector<Row>{Row{"TERM01", "1700"}, Row{"TERM02", "1900"}}));
  idle.SendPacket(0x01, Batch("SELECT 1"));
  EXPECT_FALSE(idle.Reply().empty());
  slow.join();
  EXPECT_TRUE(slowDropped);
  EXPECT_GE(slowSeconds, 9.0);
  EXPECT_LE(slowSeconds, 14.0);
  std::string log = Slurp(db.root + "/listener.log");
  EXPECT_THAT(log, HasSubstr("closed: no login within 10 s"));
  EXPECT_THAT(log, HasSubstr("every session is taken"));
  clients.clear();
  db.StopListener();
}

TEST(TdsListener, BatchesSetOptionsVariablesAndTransactions) {
  SKIP_WITHOUT_FREETDS();
#ifndef TSQL_BIN
  GTEST_SKIP() << "skipped: FreeTDS's tsql (package freetds-bin) is not installed";
#endif
  Installation db(Path::Tds);
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  db.Exec("UPDATE QVSYSTEM.MGSST20P SET M20Dat = CONVERT(datetime, '2024-03-05 14:30:00', 120)");
  int port = db.StartListener();
  std::string out = Tsql(
      db, port, "geheim",
      "SET ARITHABORT ON;SET CONCAT_NULL_YIELDS_NULL ON;SET ANSI_NULLS ON;SET ANSI_PADDING ON\n"
      "SET TEXTSIZE 2147483647 SET QUOTED_IDENTIFIER ON set transaction isolation level read "
      "committed\nSELECT @@SPID AS spid, SERVERPROPERTY('ProductVersion') AS v\ngo\n"
      "BEGIN TRAN\nUPDATE QVSYSTEM.MGSST20P SET M20Ofb = '9999'\n"
      "SELECT @@ROWCOUNT AS n, @@TRANCOUNT AS t\nROLLBACK TRAN\n"
      "SELECT M20Ofb, M20Dat, @@TRANCOUNT AS t FROM QVSYSTEM.MGSST20P\ngo\n"
      "SET FANCY_OPTION ON\ngo\nCOMMIT\ngo\nquit\n");
  EXPECT_THAT(out, HasSubstr("spid\tv\n51\t16.0.2000.5\n"));
  EXPECT_THAT(out, HasSubstr("n\tt\n1\t1\n"));
  // The datetime travels as a datetime: tsql writes it in its own form.
  EXPECT_THAT(out, HasSubstr("M20Ofb\tM20Dat\tt\n1700\tMar  5 2024 02:30PM\t0\n"));
  EXPECT_THAT(out, HasSubstr("Msg 195 (severity 16, state 1)"));
  EXPECT_THAT(out, HasSubstr("Msg 3902 (severity 16, state 1)"));

  // A session that ends inside its transaction leaves nothing behind; the
  // transaction manager's requests begin and roll back as a batch's do.
  db.StopListener();
  db.SetDsnAttribute("User", "");
  db.SetDsnAttribute("Password", "");
  port = db.StartListener();
  {
    RawClient c(port);
    ASSERT_TRUE(c.LogIn());
    c.SendPacket(0x01, Batch("BEGIN TRANSACTION; UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '1111'"));
    EXPECT_THAT(Tokens(c.Reply()), ElementsAre("E3:8", "FD:0", "FD:1"));
  }
  // Until its rollback the ended session holds the table's write lock, and
  // the next session's transaction would end as a deadlock victim.
  ASSERT_TRUE(ListenerLogged(db, "the session's open transaction rolled back"));
  {
    RawClient c(port);
    ASSERT_TRUE(c.LogIn());
    c.SendPacket(0x0E, Tm(5));
    EXPECT_THAT(Tokens(c.Reply()), ElementsAre("E3:8", "FD:0"));
    c.SendPacket(0x01, Batch("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '2222'"));
    EXPECT_THAT(Tokens(c.Reply()), ElementsAre("FD:1"));
    c.SendPacket(0x0E, Tm(8));
    EXPECT_THAT(Tokens(c.Reply()), ElementsAre("E3:10", "FD:0"));
  }
  EXPECT_EQ(db.Query("SELECT M20Ofb FROM QVSYSTEM.MGSST20P"), std::vector<Row>{Row{"1700"}});
  {
    // A transaction that read before another session's commit cannot write
    // over it: it ends as a deadlock victim, and the other's row stays.
    RawClient a(port);
    RawClient b(port);
    ASSERT_TRUE(a.LogIn());
    ASSERT_TRUE(b.LogIn());
    a.SendPacket(0x01, Batch("BEGIN TRAN SELECT COUNT(*) FROM QVSYSTEM.MGSST20P"));
    ASSERT_FALSE(a.Reply().empty());
    b.SendPacket(0x01, Batch("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '3333'"));
    EXPECT_THAT(Tokens(b.Reply()), ElementsAre("FD:1"));
    a.SendPacket(0x01, Batch("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = '4444' SELECT 1"));
    EXPECT_THAT(Tokens(a.Reply()), ElementsAre("AA:1205", "FD:0", "E3:10"));
  }
  {
    // Statement words inside a text or a comment start no statement; the
    // SET of an UPDATE is its own.
    RawClient c(port);
    ASSERT_TRUE(c.LogIn());
    c.SendPacket(
        0x01,
        Batch(
            "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = ';SET' /* DELETE ; */ WHERE M20Trm = 'TERM01'\n"
            "-- SELECT 1;\nUPDATE QVSYSTEM.MGSST20P SET M20Ofb = 'x' WHERE M20Trm = 'BEGIN TRAN'"));
    EXPECT_THAT(Tokens(c.Reply()), ElementsAre("FD:1", "FD:0"));
  }
  db.StopListener();
  EXPECT_EQ(db.Query("SELECT M20Ofb FROM QVSYSTEM.MGSST20P"), std::vector<Row>{Row{";SET"}});
  EXPECT_THAT(Slurp(db.root + "/listener.log"), HasSubstr("open transaction rolled back"));
}

TEST(TdsListener, RpcParametersAreBoundAndJournaled) {
  SKIP_WITHOUT_FREETDS();
  Installation db(Path::Tds);
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  db.SetDsnAttribute("User", "");
  db.SetDsnAttribute("Password", "");
  int port = db.StartListener();
  db.TakeJournal();
  RawClient c(port);
  ASSERT_TRUE(c.LogIn());
  const std::string update = "UPDATE QVSYSTEM.MGSST20P SET M20Ofb = @ofb WHERE M20Trm = @trm";
  // A value that would change the statement were it spliced into the text.
  c.SendPacket(0x03,
               ExecuteSql(update, "@ofb nvarchar(4), @trm nvarchar(255)",
                          NVarcharParam("@ofb", "0000") + NVarcharParam("@trm", "x' OR 'a'='a")));
  EXPECT_THAT(Tokens(c.Reply()), ElementsAre("FF:0", "79:0", "FE:0"));
  c.SendPacket(0x03, ExecuteSql(update, "@ofb nvarchar(4), @trm nvarchar(255)",
                                NVarcharParam("@ofb", "1900") + NVarcharParam("@trm", "TERM01")));
  EXPECT_THAT(Tokens(c.Reply()), ElementsAre("FF:1", "79:0", "FE:0"));
  c.SendPacket(0x03,
               ExecuteSql("INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv) "
                          "VALUES (@P1, 'A', '1', '12345', '0800')",
                          "@P1 nvarchar(255)", NVarcharParam("", "TERM01")));
  EXPECT_THAT(Tokens(c.Reply()), ElementsAre("AA:2627", "FF:0", "79:1", "FE:0"));
  EXPECT_EQ(db.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P"),
            (std::vector<Row>{Row{"TERM01", "1900"}}));
  EXPECT_THAT(
      db.TakeJournal(),
      ElementsAre(
          "EXEC sp_executesql N'" + std::string("UPDATE QVSYSTEM.MGSST20P SET M20Ofb = @ofb WHERE "
                                                "M20Trm = @trm', N'@ofb nvarchar(4), @trm "
                                                "nvarchar(255)', @ofb = N'0000', @trm = N'x'' OR "
                                                "''a''=''a'"),
          "EXEC sp_executesql N'UPDATE QVSYSTEM.MGSST20P SET M20Ofb = @ofb WHERE M20Trm = @trm', "
          "N'@ofb nvarchar(4), @trm nvarchar(255)', @ofb = N'1900', @trm = N'TERM01'",
          "EXEC sp_executesql N'INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, "
          "M20Ofv) VALUES (@P1, ''A'', ''1'', ''12345'', ''0800'')', N'@P1 nvarchar(255)', "
          "N'TERM01'"));
  // A catalog procedure is answered with an error the client reports.
  std::string headers = {22, 0, 0, 0, 18, 0, 0, 0, 2, 0};
  headers += std::string(8, '\0') + std::string{1, 0, 0, 0};
  c.SendPacket(0x03, headers + U16Le(10) + Ucs2("sp_columns") + U16Le(0));
  EXPECT_THAT(Tokens(c.Reply()), ElementsAre("AA:2812", "79:1", "FE:0"));
  db.StopListener();
}

TEST(TdsListener, SameStatementsLeaveTheSameTableBytesOnBothPaths) {
  SKIP_WITHOUT_FREETDS();
  // Windows-1252: u umlaut, A umlaut, euro sign, sharp s, an apostrophe.
  const std::string trm = "T\xfcr \xc4 \x80 \xdf O'Brien";
  std::vector<std::vector<Row>> tables;
  for (Path path : {Path::InProcess, Path::Tds}) {
    Installation db(path);
    db.WriteFile("in/20P.txt", Line20P(trm, "17'0") + Line20P("TERM02", "1800"));
    ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
    EXPECT_EQ(db.LogMessages().at(0), "2 von 2 Datensaetze in MGSST20P eingefuegt");
    tables.push_back(db.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm"));
  }
  EXPECT_THAT(tables[0], ElementsAre(Row{"TERM02", "1800"}, Row{trm, "17'0"}));
  EXPECT_EQ(tables[1], tables[0]);
}

TEST(TdsListener, TsqlRunsQueriesAndSeesTheServersNativeErrors) {
  SKIP_WITHOUT_FREETDS();
#ifndef TSQL_BIN
  GTEST_SKIP() << "skipped: FreeTDS's tsql (package freetds-bin) is not installed";
#endif
  Installation db(Path::Tds);
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));
  ASSERT_EQ(db.Run({"in/20P.txt", "20P"}).exitCode, 0);
  int port = db.StartListener();
  std::string out =
      Tsql(db, port, "geheim",
           "SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P\ngo\n"
           "SELECT M20Nix FROM QVSYSTEM.MGSST20P\ngo\n"
           "INSERT INTO QVSYSTEM.MGSST20P (M20Trm, M20Sch, M20Tg1, M20Zz2, M20Ofv, M20Ofb, M20Dat) "
           "VALUES ('TERM01', 'A', '1', '12345', '0800', '1', CURRENT_TIMESTAMP)\ngo\nquit\n");
  EXPECT_THAT(out, HasSubstr("M20Trm\tM20Ofb\nTERM01\t1700\n"));
  EXPECT_THAT(out, HasSubstr("Msg 207 (severity 16, state 1)"));
  EXPECT_THAT(out, HasSubstr("Msg 2627 (severity 14, state 1)"));
  std::string refused = Tsql(db, port, "falsch", "quit\n");
  EXPECT_THAT(refused, HasSubstr("Msg 18456 (severity 14, state 1)"));
  EXPECT_THAT(refused, HasSubstr("Login failed for user 'kranzel'."));
  db.StopListener();  // throws unless the listener stops cleanly
}

TEST(TdsListener, BadPacketsCloseOnlyTheirConnection) {
  SKIP_WITHOUT_FREETDS();
  Installation db(Path::Tds);
  db.SetDsnAttribute("User", "");
  db.SetDsnAttribute("Password", "");
  int port = db.StartListener();
  {
    RawClient c(port);  // garbage
    ASSERT_TRUE(c.connected());
    c.SendRaw("GET / HTTP/1.0\r\n\r\n");
    c.EndWrites();
    EXPECT_TRUE(c.ClosedByListener());
  }
  {
    RawClient c(port);  // a length below the header's own
    c.SendRaw(std::string{0x12, 1, 0, 3, 0, 0, 0, 0});
    EXPECT_TRUE(c.ClosedByListener());
  }
  {
    RawClient c(port);  // a length above any packet size
    c.SendRaw(std::string{0x12, 1, '\xff', '\xff', 0, 0, 0, 0} + std::string(200, 'x'));
    EXPECT_TRUE(c.ClosedByListener());
  }
  {
    RawClient c(port);  // a packet cut short
    c.SendRaw(std::string{0x12, 1, 0, 100, 0, 0, 0, 0} + std::string(20, '\0'));
    c.EndWrites();
    EXPECT_TRUE(c.ClosedByListener());
  }
  {
    RawClient c(port);  // PRELOGIN option pointing outside the message; LOGIN7 too short
    c.SendPacket(0x12, std::string{1, 0x7f, 0, 0, 1, '\xff'});
    EXPECT_TRUE(c.ClosedByListener());
    RawClient d(port);
    d.SendPacket(0x10, std::string(40, '\0'));
    EXPECT_TRUE(d.ClosedByListener());
  }
  {
    RawClient c(port);  // logged in: an RPC is answered with an error, an attention with DONE_ATTN
    c.SendPacket(0x10, Login7("", ""));
    std::string login = c.Reply();
    ASSERT_FALSE(login.empty());
    EXPECT_NE(login.find('\xad'), std::string::npos);  // LOGINACK
    c.SendPacket(0x03, std::string(30, 'r'));
    std::string rpc = c.Reply();
    ASSERT_FALSE(rpc.empty());
    EXPECT_EQ(rpc[0], '\xaa');  // ERROR
    c.SendPacket(0x06, "");
    std::string attn = c.Reply();
    ASSERT_EQ(attn.size(), 13u);
    EXPECT_EQ(attn.substr(0, 3), (std::string{'\xfd', 0x20, 0}));
    c.SendPacket(0x01, Batch("SELECT M20Trm FROM QVSYSTEM.MGSST20P"));
    std::string rows = c.Reply();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], '\x81');                   // COLMETADATA
    c.SendPacket(0x01, Batch("SELECT 1") + "x");  // half a character
    EXPECT_TRUE(c.ClosedByListener());
  }
  {
    RawClient c(port);  // a request of more than 4 MiB
    c.SendPacket(0x10, Login7("", ""));
    ASSERT_FALSE(c.Reply().empty());
    std::string chunk(32000, 'a');
    for (int i = 0; i < 140; ++i) c.SendPacket(0x01, chunk, false);
    EXPECT_TRUE(c.ClosedByListener());
  }
  // The listener still serves the next client, the tool through FreeTDS.
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));
  auto r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(db.Query("SELECT M20Trm FROM QVSYSTEM.MGSST20P"), std::vector<Row>{Row{"TERM01"}});
  const std::string log = Slurp(db.root + "/listener.log");
  EXPECT_THAT(log, HasSubstr("malformed packet header"));
  EXPECT_THAT(log, HasSubstr("request larger than"));
}

TEST(TdsListener, ATricklingClientIsDroppedWhenItsPacketIsLate) {
  SKIP_WITHOUT_FREETDS();
  Installation db(Path::Tds);
  db.SetDsnAttribute("User", "");
  db.SetDsnAttribute("Password", "");
  // The stall limit shortened from 10 s to 1 s; the client sends a byte
  // every 200 ms, far within the limit each time, but its packet of 100
  // bytes would take 20 s. Before the login it trickles from the packet's
  // first byte; logged in, it sends the header whole and trickles the rest.
  int port = db.StartListener({"--stall-ms", "1000"});
  const std::string packet = std::string{0x01, 1, 0, 100, 0, 0, 0, 0} + std::string(92, 'x');
  for (bool loggedIn : {false, true}) {
    SCOPED_TRACE(loggedIn ? "logged in" : "before the login");
    RawClient c(port);
    ASSERT_TRUE(c.connected());
    std::size_t sent = 0;
    if (loggedIn) {
      c.SendPacket(0x10, Login7("", ""));
      const std::string login = c.Reply();
      ASSERT_NE(login.find('\xad'), std::string::npos);  // LOGINACK
      c.SendRaw(packet.substr(0, 8));
      sent = 8;
    }
    bool dropped = false;
    for (; sent < packet.size() && !dropped; ++sent) {
      c.SendRaw(packet.substr(sent, 1));
      usleep(200000);
      dropped = c.ClosedWithoutWaiting();
    }
    EXPECT_TRUE(dropped);
    EXPECT_LT(sent, packet.size()) << "the listener waited for the whole packet";
  }
  db.StopListener();
  const std::string log = Slurp(db.root + "/listener.log");
  EXPECT_THAT(log, HasSubstr("closed: the client stalled"));
  EXPECT_THAT(log, HasSubstr("closed: packet cut short (100 bytes announced)"));
}

TEST(TdsListener, MissingDatabaseIsRefusedAtStart) {
  SKIP_WITHOUT_FREETDS();
  Installation db(Path::Tds);
  std::string cmd =
      std::string(STANDIN_SERVER) + " --port 0 --database " + db.root + "/nix.sqlite 2>&1";
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[1024];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = pclose(p);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_THAT(out, HasSubstr("the database file " + db.root + "/nix.sqlite does not exist"));
  EXPECT_THAT(out, ::testing::Not(HasSubstr("listening")));
}

// A server that takes every connection and never says a word: a listening
// socket that nobody accepts from, so the kernel completes each TCP
// handshake and the client's packets wait in its queue for ever.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 64) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      port_ = ntohs(a.sin_port);
  }
  ~SilentServer() { close(fd_); }
  [[nodiscard]] int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Seconds since the epoch of a log line's timestamp (local time).
std::time_t Stamp(const std::string& line) {
  std::tm tm{};
  std::istringstream in(line.substr(0, 19));
  in >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(FreeTdsTimeouts, ServerThatAcceptsAndNeverAnswersEndsTheRunWith99) {
  SKIP_WITHOUT_FREETDS();
  SilentServer server;
  ASSERT_GT(server.port(), 0);
  // The production driver's DSN, pointed at the silent server.
  Installation db(Path::InProcess);
  for (const char* key : {"Database", "User", "Password", "Journal", "Control"})
    db.SetDsnAttribute(key, "");
  db.SetDsnAttribute("Driver", "FreeTDS");
  db.SetDsnAttribute("Server", "127.0.0.1");
  db.SetDsnAttribute("Port", std::to_string(server.port()));
  db.SetDsnAttribute("TDS_Version", "7.4");
  db.SetDsnAttribute("ClientCharset", "CP1252");
  db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));

  // Under the fake clock the login timeouts and the reconnect pauses pass a
  // thousand times faster; without a login timeout the run would wait for
  // ever and be killed by the harness.
  e2e::RunResult r = db.Run({"in/20P.txt", "20P"});
  EXPECT_EQ(r.exitCode, 99);

  const std::string timedOut =
      "ODBC: HYT00 [unixODBC][FreeTDS][SQL Server]Timeout expired (nativer Fehler 0, DSN "
      "KRANZELDB)";
  std::vector<std::string> expected = {"Datenbankverbindung fehlgeschlagen, Fehler: -1", timedOut};
  for (int attempt = 1; attempt <= 5; ++attempt) {
    const std::string n = std::to_string(attempt);
    expected.push_back(n + ". Versuch zur Wiederherstellung der Datenbankverbindung!");
    expected.push_back("Fehler dbConnect(dbReconnect)! RC: -1 Versuch-Nr.: " + n);
    expected.push_back(timedOut);
  }
  EXPECT_EQ(db.LogMessages(), expected);

  // Each connect waited the login timeout (a minute on the fake clock), not
  // less: it is the timeout that ended it, not a refusal.
  std::vector<std::string> lines;
  {
    std::ifstream in(db.LogPath());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 2; i + 1 < lines.size(); i += 3) {
    EXPECT_GE(Stamp(lines[i + 1]) - Stamp(lines[i]), 59) << lines[i] << "\n" << lines[i + 1];
  }
  // The source keeps its name (the run ended before the rename), and the
  // type lock is free again.
  EXPECT_TRUE(db.Exists("in/20P.txt"));
  const std::string lock = db.root + "/Valdura_php/log/kranzel-20P.lock";
  int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0) << lock;
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

TEST(FreeTdsTimeouts, StatementThatIsNeverAnsweredFailsAndTheNextAttemptImports) {
  SKIP_WITHOUT_FREETDS();
  // The mark hangs once, on both paths: FreeTDS cancels it after the query
  // timeout (ten minutes on the fake clock) and the listener acknowledges
  // the cancel; the in-process driver gives up after the same timeout.
  for (Path path : {Path::InProcess, Path::Tds}) {
    SCOPED_TRACE(path == Path::Tds ? "FreeTDS" : "in-process driver");
    Installation db(path);
    db.SetControl("stall_statement 1 SET    M20Dat = CONVERT(datetime, '19000101', 112)\n");
    db.WriteFile("in/20P.txt", Line20P("TERM01", "1700"));
    e2e::RunResult r = db.Run({"in/20P.txt", "20P"});
    EXPECT_EQ(r.exitCode, 0);
    const std::vector<std::string> log = db.LogMessages();
    EXPECT_THAT(log, ElementsAre(path == Path::Tds
                                     ? "ODBC: HYT00 [FreeTDS][SQL Server]Timeout expired (nativer "
                                       "Fehler 0, DSN KRANZELDB)"
                                     : "ODBC: HYT00 [KranzelStandin]Query timeout expired "
                                       "(nativer Fehler 0, DSN KRANZELDB)",
                                 "Fehler in SQL_MGSST20P_SetDelete(): -1",
                                 "1. Versuch zur Wiederherstellung der Datenbankverbindung!",
                                 "Die Verbindung zur Datenbank wurde wiederhergestellt!",
                                 "1 von 1 Datensaetze in MGSST20P eingefuegt",
                                 "Die Schnittstellendatei vom Dateityp '20P' wurde importiert!"));
    EXPECT_EQ(db.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P"),
              (std::vector<Row>{{"TERM01", "1700"}}));
  }
}

}  // namespace
