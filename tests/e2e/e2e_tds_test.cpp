// The stand-in's TDS listener as FreeTDS and a hostile client see it: the
// same table bytes as the in-process driver, FreeTDS's tsql running queries
// and seeing the server's native errors, bad packets that never bring the
// listener down, a missing database refused at start. (The import suites
// themselves run through the listener in the ctest entry
// e2e_through_freetds.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "e2e/harness.h"

using e2e::Installation;
using e2e::Path;
using e2e::Row;
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

// A raw client of the listener, for packets no driver would send.
class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{20, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RawClient() { close(fd_); }
  [[nodiscard]] bool connected() const { return connected_; }

  void SendRaw(const std::string& bytes) {
    (void)send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void SendPacket(std::uint8_t type, const std::string& payload, bool eom = true) {
    std::size_t len = payload.size() + 8;
    std::string p = {static_cast<char>(type),
                     static_cast<char>(eom ? 1 : 0),
                     static_cast<char>(len >> 8),
                     static_cast<char>(len & 0xFF),
                     0,
                     0,
                     1,
                     0};
    SendRaw(p + payload);
  }
  void EndWrites() { shutdown(fd_, SHUT_WR); }
  // The reply message (packets up to EOM); empty when the listener closed
  // the connection instead.
  std::string Reply() {
    std::string msg;
    for (;;) {
      std::string h = Read(8);
      if (h.size() < 8) return "";
      std::size_t len = (static_cast<unsigned char>(h[2]) << 8) | static_cast<unsigned char>(h[3]);
      std::string data = Read(len - 8);
      if (data.size() < len - 8) return "";
      msg += data;
      if (h[1] & 1) return msg;
    }
  }
  // True when the listener closed the connection: end of file, or a reset
  // when it closed with our bytes still unread (not a receive timeout).
  bool ClosedByListener() {
    char c;
    ssize_t k = recv(fd_, &c, 1, 0);
    return k == 0 || (k < 0 && errno == ECONNRESET);
  }

 private:
  std::string Read(std::size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      ssize_t k = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (k <= 0) break;
      out.append(buf, static_cast<std::size_t>(k));
    }
    return out;
  }
  int fd_ = -1;
  bool connected_ = false;
};

// A LOGIN7 message with no names at all (the listener then expects none).
std::string EmptyLogin7() {
  std::string m(94, '\0');
  m[0] = 94;
  m[4] = 0x04, m[7] = 0x74;  // TDS 7.4
  m[9] = 0x10;               // packet size 4096
  for (int at = 36; at < 94; at += 4)
    m[static_cast<std::size_t>(at)] = 94;  // empty fields at the end
  return m;
}

std::string Ucs2(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

std::string Batch(const std::string& sql) {
  std::string headers = {22, 0, 0, 0, 18,
                         0,  0, 0, 2, 0};  // ALL_HEADERS with a transaction descriptor
  headers += std::string(8, '\0') + std::string{1, 0, 0, 0};
  return headers + Ucs2(sql);
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
    c.SendPacket(0x10, EmptyLogin7());
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
    c.SendPacket(0x10, EmptyLogin7());
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
  std::ifstream log(db.root + "/listener.log");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_THAT(text.str(), HasSubstr("malformed packet header"));
  EXPECT_THAT(text.str(), HasSubstr("request larger than"));
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

}  // namespace
