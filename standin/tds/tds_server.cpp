// The stand-in's TDS listener: accepting connections on 127.0.0.1, each a
// session on its own thread (PRELOGIN, LOGIN7, then SQL batches, RPC and
// transaction requests run by the stand-in's engine on the session's own
// SQLite connection), with the control file's faults and the journal.
#include "tds_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "tds_batch.h"
#include "tds_wire.h"
#include "tsql.h"
#include "tsql_lex.h"
#include "tsql_values.h"

namespace tds {

namespace {

const char* const kServerName = "kranzel-standin";
// A login must be complete this long after the connect, so a client that
// never finishes it cannot hold a session slot for ever.
const int kLoginMs = 10000;
// Sessions that are only told the listener is full, beyond the served ones;
// a connect beyond those is closed at once.
const std::size_t kRefusers = 4;
// Prepared statements one session may keep (sp_prepare without
// sp_unprepare must not grow it without end).
const std::size_t kMaxPrepared = 4096;
// SQL Server numbers user sessions from 51.
const int kFirstSpid = 51;
// The largest request message (all packets up to EOM) the listener accepts.
const std::size_t kMaxMessage = std::size_t{4} * 1024 * 1024;

enum class Wait { Ok, Eof, Timeout, Stopped, Failed };

using Clock = std::chrono::steady_clock;

// Reads exactly `n` bytes by `deadline` (none: for ever), however the bytes
// trickle in. Sessions keep SIGINT and SIGTERM blocked (only the accepting
// thread takes them); a stopping listener shuts their sockets down.
Wait ReadFully(int fd, std::uint8_t* buf, std::size_t n, std::optional<Clock::time_point> deadline,
               const std::atomic<bool>& stop) {
  std::size_t got = 0;
  while (got < n) {
    if (stop) return Wait::Stopped;
    int timeoutMs = -1;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now());
      if (left.count() <= 0) return Wait::Timeout;
      timeoutMs = static_cast<int>((left.count() + 999) / 1000);
    }
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    if (r == 0) return Wait::Timeout;
    if (stop) return Wait::Stopped;
    ssize_t k = recv(fd, buf + got, n - got, 0);
    if (k == 0) return Wait::Eof;
    if (k < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    got += static_cast<std::size_t>(k);
  }
  return Wait::Ok;
}

bool SendAll(int fd, const Bytes& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t k = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<std::size_t>(k);
  }
  return true;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// SQL Server's severity of an error number: key violations and failed
// logins are 14, a deadlock victim 13, every other statement error 16.
std::uint8_t ClassOf(int native) {
  switch (native) {
    case 2601:
    case 2627:
    case 18456: return 14;
    case 1205: return 13;
    default: return 16;
  }
}

std::uint16_t CurCmdOf(standin::Kind kind) {
  switch (kind) {
    case standin::Kind::Insert: return kCmdInsert;
    case standin::Kind::Update: return kCmdUpdate;
    case standin::Kind::Delete: return kCmdDelete;
    case standin::Kind::Select: return kCmdSelect;
    default: return 0;
  }
}

// The columns of a result set: a table column travels as its declared type
// (int, smallint, tinyint, bigint, bit, datetime, char(n), varchar(n) and
// their N forms), an expression as its first value's type (an integer as
// int, or bigint when it does not fit; a floating value as float; a text
// in the stored datetime form as datetime; any other text as varchar).
std::vector<ColumnDesc> DescribeColumns(sqlite3_stmt* st, bool haveRow) {
  std::vector<ColumnDesc> cols;
  int n = sqlite3_column_count(st);
  for (int i = 0; i < n; ++i) {
    ColumnDesc c;
    const char* name = sqlite3_column_name(st, i);
    c.name = name != nullptr ? name : "";
    const char* decl = sqlite3_column_decltype(st, i);
    auto text = [&c](ColKind kind, long length, std::uint16_t most) {
      c.kind = kind;
      c.length = length >= 1 && length <= most ? static_cast<std::uint16_t>(length) : most;
    };
    if (decl != nullptr && *decl != '\0') {
      standin::ColumnType t = standin::ParseDeclaredType(decl);
      switch (t.type) {
        case standin::ColType::Int: c.kind = ColKind::Int, c.length = 4; break;
        case standin::ColType::SmallInt: c.kind = ColKind::Int, c.length = 2; break;
        case standin::ColType::TinyInt: c.kind = ColKind::Int, c.length = 1; break;
        case standin::ColType::BigInt: c.kind = ColKind::Int, c.length = 8; break;
        case standin::ColType::Bit: c.kind = ColKind::Bit, c.length = 1; break;
        case standin::ColType::DateTime: c.kind = ColKind::DateTime, c.length = 8; break;
        case standin::ColType::Char: text(ColKind::Char, t.length, 8000); break;
        case standin::ColType::VarChar: text(ColKind::VarChar, t.length, 8000); break;
        case standin::ColType::NChar: text(ColKind::NChar, t.length, 4000); break;
        case standin::ColType::NVarChar: text(ColKind::NVarChar, t.length, 4000); break;
        case standin::ColType::Other: text(ColKind::VarChar, 8000, 8000); break;
      }
    } else {
      int type = haveRow ? sqlite3_column_type(st, i) : SQLITE_NULL;
      if (type == SQLITE_INTEGER) {
        sqlite3_int64 v = sqlite3_column_int64(st, i);
        c.kind = ColKind::Int;
        c.length = v >= INT32_MIN && v <= INT32_MAX ? 4 : 8;
      } else if (type == SQLITE_FLOAT) {
        c.kind = ColKind::Float;
        c.length = 8;
      } else {
        tsql::DateTime dt;
        const char* v = type == SQLITE_TEXT ? reinterpret_cast<const char*>(sqlite3_column_text(st, i)) : nullptr;
        if (v != nullptr && tsql::ParseCanonical(v, dt)) {
          c.kind = ColKind::DateTime;
          c.length = 8;
        } else {
          text(ColKind::VarChar, 8000, 8000);
        }
      }
    }
    cols.push_back(std::move(c));
  }
  return cols;
}

// Reads column `i` of the current row as column `c` travels. False with
// `err` set when the value cannot travel so.
bool ReadValue(sqlite3_stmt* st, int i, const ColumnDesc& c, Value& v, standin::Error& err) {
  int type = sqlite3_column_type(st, i);
  v.text.clear();
  if (type == SQLITE_NULL) {
    v.kind = Value::Null;
    return true;
  }
  switch (c.kind) {
    case ColKind::Int:
    case ColKind::Bit: {
      v.kind = Value::Int;
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        v.i = sqlite3_column_int64(st, i);
      } else {
        const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        char* end = nullptr;
        errno = 0;
        long long n = std::strtoll(t != nullptr ? t : "", &end, 10);
        if (t == nullptr || end == t || *end != '\0' || errno != 0) {
          err.native = 245;
          err.message = std::string("Conversion failed when converting the varchar value '") + (t ? t : "") +
                        "' to data type int.";
          return false;
        }
        v.i = n;
      }
      std::int64_t lo = c.length == 1 ? 0 : c.length == 2 ? INT16_MIN : c.length == 4 ? INT32_MIN : INT64_MIN;
      std::int64_t hi = c.length == 1 ? 255 : c.length == 2 ? INT16_MAX : c.length == 4 ? INT32_MAX : INT64_MAX;
      if (c.kind == ColKind::Int && (v.i < lo || v.i > hi)) {
        err.native = 8115;
        err.message = "Arithmetic overflow error converting expression to data type int.";
        return false;
      }
      return true;
    }
    case ColKind::Float:
      v.kind = Value::Float;
      v.f = sqlite3_column_double(st, i);
      return true;
    case ColKind::DateTime: {
      v.kind = Value::DateTime;
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      v.text = t != nullptr ? t : "";
      std::int32_t days = 0;
      std::uint32_t ticks = 0;
      if (!DateTimeToWire(v.text, days, ticks)) {
        err.native = 241;
        err.message = "Conversion failed when converting date and/or time from character string.";
        return false;
      }
      return true;
    }
    default: {
      v.kind = Value::Text;
      const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
      std::size_t len = static_cast<std::size_t>(sqlite3_column_bytes(st, i));
      v.text.assign(t != nullptr ? t : "", len);
      return true;
    }
  }
}

// SQL's LIKE without escapes, ignoring case: % any run, _ one character.
bool Like(const std::string& text, const std::string& pattern) {
  std::size_t t = 0, p = 0, starP = std::string::npos, starT = 0;
  auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '_' || (pattern[p] != '%' && same(pattern[p], text[t])))) {
      ++t, ++p;
    } else if (p < pattern.size() && pattern[p] == '%') {
      starP = p++;
      starT = t;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '%') ++p;
  return p == pattern.size();
}

// A server cursor (sp_cursoropen): its query's rows read at the open (a
// static cursor), handed out forward by sp_cursorfetch.
struct Cursor {
  bool captured = false;  // a query filled it
  std::vector<ColumnDesc> cols;
  std::vector<std::vector<Value>> rows;
  std::size_t next = 0;
};

// A prepared statement of sp_prepare: its text and the names of its
// declared parameters, in order.
struct PreparedSql {
  std::string text;
  std::vector<std::string> names;
};

}  // namespace

// One client connection, from PRELOGIN to the socket's close.
class Server::Session {
 public:
  Session(Server& server, int fd, std::string peer, int spid, bool refusing)
      : server_(server), fd_(fd), peer_(std::move(peer)), spid_(spid), refusing_(refusing) {}

  void Serve();

 private:
  enum class Read { Message, Closed };
  // Reads one request message; Closed when the connection is to end (the
  // reason is logged).
  Read ReadMessage(std::uint8_t& type, Bytes& msg);
  bool Reply(const TokenWriter& w) {
    return SendAll(fd_, Concat(Packetize(kTabularResult, w.bytes(), packetSize_, static_cast<std::uint16_t>(spid_))));
  }
  static Bytes Concat(const std::vector<Bytes>& packets);
  void Close(const std::string& why) { server_.Log(peer_ + ": " + why); }
  bool Login(const Bytes& msg);
  bool Batch(const Bytes& msg);
  bool Rpc(const Bytes& msg);
  bool TransactionManager(const Bytes& msg);

  // How a statement's run ended.
  enum class Outcome { Ok, Failed, Abort, Drop, Stall };
  // Runs the statements with the parameters, writing their results to
  // `w` with `doneToken` (DONE in a batch, DONEINPROC in a procedure).
  Outcome RunStatements(const std::vector<std::string>& statements, const std::map<std::string, Value>& params,
                        TokenWriter& w, std::uint8_t doneToken);
  Outcome RunOne(const std::string& statement, const std::map<std::string, Value>& params, TokenWriter& w,
                 std::uint8_t doneToken);
  Outcome RunEngine(const std::string& text, TokenWriter& w, std::uint8_t doneToken);
  Outcome Query(tsql::Execution& ex, const std::string& text, TokenWriter& w, std::uint8_t doneToken);
  Outcome SetStatement(const std::string& statement, TokenWriter& w, std::uint8_t doneToken);
  // True when a fault of the control file ends the request without its
  // reply: a dropped connection (closed; `keepOpen` false) or a stalled
  // statement (no answer until the client cancels; `keepOpen` true).
  bool EndedByFault(Outcome o, bool& keepOpen) {
    if (o == Outcome::Drop) {
      Close("dropped (control file: drop_after)");
      keepOpen = false;
      return true;
    }
    if (o == Outcome::Stall) {
      server_.Log(peer_ + ": statement left unanswered (control file: stall_statement)");
      keepOpen = true;
      return true;
    }
    return false;
  }
  void WriteError(TokenWriter& w, const standin::Error& err, std::uint8_t doneToken);
  // Answers the statement with `err`: it failed, the batch goes on.
  Outcome Failed(TokenWriter& w, const standin::Error& err, std::uint8_t doneToken) {
    WriteError(w, err, doneToken);
    return Outcome::Failed;
  }
  // The same with an error of the listener's own making.
  Outcome Refuse(TokenWriter& w, std::uint8_t doneToken, int native, std::string message) {
    standin::Error err;
    err.native = native;
    err.message = std::move(message);
    return Failed(w, err, doneToken);
  }

  // The session's transaction on its SQLite connection.
  bool BeginTran(TokenWriter& w, standin::Error& err);
  bool CommitTran(TokenWriter& w, standin::Error& err);
  void RollbackTran(TokenWriter* w);

  Server& server_;
  int fd_;
  std::string peer_;
  int spid_;
  bool refusing_;
  bool loggedIn_ = false;
  std::chrono::steady_clock::time_point loginBy_ =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kLoginMs);
  std::size_t packetSize_ = kDefaultPacket;
  standin::FaultState* faults_ = nullptr;
  std::string faultsError_;
  tsql::Database db_;
  // Session state: @@TRANCOUNT (the SQLite transaction is open while it is
  // above 0), the descriptor clients echo in their requests, the options.
  int tranCount_ = 0;
  std::uint64_t descriptor_ = 0;
  std::uint64_t lastDescriptor_ = 0;
  bool nocount_ = false;
  bool xactAbort_ = false;
  bool implicitTransactions_ = false;
  long long rowCount_ = 0;
  std::map<int, PreparedSql> prepared_;
  int nextHandle_ = 1;
  // Server cursors, and the one a query being opened fills (its rows are
  // kept instead of sent).
  std::map<int, Cursor> cursors_;
  int nextCursor_ = 180150001;
  Cursor* capture_ = nullptr;
};

Bytes Server::Session::Concat(const std::vector<Bytes>& packets) {
  Bytes all;
  for (const Bytes& p : packets) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Server::Session::Read Server::Session::ReadMessage(std::uint8_t& type, Bytes& msg) {
  msg.clear();
  bool first = true;
  for (;;) {
    std::uint8_t h[kHeaderSize];
    // Between messages a logged-in client may stay silent as long as it
    // likes; within a message, or before the login, it may not, nor may it
    // take longer than kLoginMs to log in. Once a packet has begun it must
    // be complete within the stall limit, however its bytes trickle in.
    const auto stall = std::chrono::milliseconds(server_.settings_.stallMs);
    std::optional<Clock::time_point> silence;
    if (!(first && loggedIn_)) silence = Clock::now() + stall;
    if (!loggedIn_) {
      if (loginBy_ <= Clock::now()) {
        Close("closed: no login within " + std::to_string(kLoginMs / 1000) + " s");
        return Read::Closed;
      }
      if (!silence || loginBy_ < *silence) silence = loginBy_;
    }
    Wait w = ReadFully(fd_, h, 1, silence, server_.stopping_);
    const Clock::time_point packetDue = Clock::now() + stall;
    if (w == Wait::Ok) w = ReadFully(fd_, h + 1, kHeaderSize - 1, packetDue, server_.stopping_);
    if (w == Wait::Eof && first) {
      Close("closed by the client");
      return Read::Closed;
    }
    if (w != Wait::Ok) {
      Close(w == Wait::Stopped ? "closed: the listener stops"
            : w == Wait::Timeout && !loggedIn_ && Clock::now() >= loginBy_
                ? "closed: no login within " + std::to_string(kLoginMs / 1000) + " s"
            : w == Wait::Timeout ? "closed: the client stalled"
                                 : "closed: connection lost or packet cut short");
      return Read::Closed;
    }
    PacketHeader ph;
    if (!ParseHeader(h, ph)) {
      Close("closed: malformed packet header (type " + std::to_string(ph.type) + ", length " +
            std::to_string(ph.length) + ")");
      return Read::Closed;
    }
    Bytes data(ph.length - kHeaderSize);
    if (!data.empty()) {
      w = ReadFully(fd_, data.data(), data.size(), packetDue, server_.stopping_);
      if (w != Wait::Ok) {
        Close("closed: packet cut short (" + std::to_string(ph.length) + " bytes announced)");
        return Read::Closed;
      }
    }
    if (first) {
      type = ph.type;
    } else if (ph.type == kAttention) {
      // The client gives up the message it was sending.
      type = kAttention;
      msg.clear();
      return Read::Message;
    } else if (ph.type != type) {
      Close("closed: packet of type " + std::to_string(ph.type) + " inside a message of type " + std::to_string(type));
      return Read::Closed;
    }
    first = false;
    if (msg.size() + data.size() > kMaxMessage) {
      Close("closed: request larger than " + std::to_string(kMaxMessage) + " bytes");
      return Read::Closed;
    }
    msg.insert(msg.end(), data.begin(), data.end());
    if (ph.status & kStatusEom) return Read::Message;
  }
}

void Server::Session::Serve() {
  faults_ = server_.Faults(faultsError_);
  if (!refusing_ && faults_ != nullptr && faults_->RefuseConnect()) {
    // As a server that is down: the client gets no answer at all.
    Close("refused (control file: refuse_connect)");
    return;
  }
  bool preloginSeen = false;
  for (;;) {
    std::uint8_t type = 0;
    Bytes msg;
    if (ReadMessage(type, msg) == Read::Closed) break;
    if (!loggedIn_) {
      if (type == kPrelogin && !preloginSeen) {
        Prelogin pl;
        std::string why;
        if (!ParsePrelogin(msg, pl, why)) {
          Close("closed: " + why);
          break;
        }
        preloginSeen = true;
        if (!SendAll(fd_, Concat(Packetize(kTabularResult, PreloginReply(), packetSize_, 0)))) {
          Close("closed: reply not sent");
          break;
        }
        continue;
      }
      if (type == kLogin7) {
        if (!Login(msg)) break;
        continue;
      }
      Close("closed: packet type " + std::to_string(type) + " before the login");
      break;
    }
    bool go = true;
    switch (type) {
      case kSqlBatch: go = Batch(msg); break;
      case kRpc: go = Rpc(msg); break;
      case kTransactionManager: go = TransactionManager(msg); break;
      case kAttention: {
        TokenWriter w;
        w.Done(kDoneAttn, 0, 0);
        go = Reply(w);
        if (!go) Close("closed: reply not sent");
        break;
      }
      default: {
        // Bulk load and the like: answered, so a client never waits for a
        // reply that will not come.
        TokenWriter w;
        w.Error(50000, 1, 16,
                "The stand-in's TDS listener does not serve requests of packet type " + std::to_string(type) +
                    " (only SQL batches, RPC, transaction manager requests and attention).",
                kServerName);
        w.Done(kDoneError, 0, 0);
        server_.Log(peer_ + ": packet type " + std::to_string(type) + " answered with an error");
        go = Reply(w);
        if (!go) Close("closed: reply not sent");
        break;
      }
    }
    if (!go) break;
  }
  if (tranCount_ > 0) {
    RollbackTran(nullptr);
    server_.Log(peer_ + ": the session's open transaction rolled back");
  }
}

bool Server::Session::Login(const Bytes& msg) {
  Login7 login;
  std::string why;
  if (!ParseLogin7(msg, login, why)) {
    Close("closed: " + why);
    return false;
  }
  if (login.packetSize >= 512 && login.packetSize <= kMaxPacket) packetSize_ = login.packetSize;
  TokenWriter w;
  auto refuse = [&](int number, std::uint8_t cls, const std::string& text) {
    w.Error(number, 1, cls, text, kServerName);
    w.Done(kDoneError, 0, 0);
    Reply(w);
    Close("login refused: " + text);
    return false;
  };
  const ServerSettings& s = server_.settings_;
  if (refusing_) {
    return refuse(17809, 20,
                  "Could not connect because the maximum number of '" + std::to_string(s.maxSessions) +
                      "' user connections has already been reached. The system administrator can use sp_configure "
                      "to increase the maximum value. The connection has been closed.");
  }
  if (!faultsError_.empty()) return refuse(50000, 16, faultsError_);
  // SQL Server compares login names by the server's collation (without
  // regard to case) and passwords exactly.
  bool userOk = s.user.empty() || EqualsNoCase(s.user, login.userName);
  bool passwordOk = s.password.empty() || s.password == login.password;
  if (!userOk || !passwordOk) return refuse(18456, 14, "Login failed for user '" + login.userName + "'.");
  standin::Error err;
  if (!db_.Open(s.database, false, err)) return refuse(4060, 11, err.message);

  w.EnvChange(1, server_.dbName_, "master");
  w.EnvChange(2, "us_english", "");
  w.EnvChangeCollation();
  w.EnvChange(4, std::to_string(packetSize_), std::to_string(kDefaultPacket));
  w.LoginAck("Microsoft SQL Server");
  w.Done(kDoneFinal, 0, 0);
  if (!Reply(w)) {
    Close("closed: reply not sent");
    return false;
  }
  loggedIn_ = true;
  server_.Log(peer_ + ": logged in as '" + login.userName + "' (session " + std::to_string(spid_) + ")");
  return true;
}

void Server::Session::WriteError(TokenWriter& w, const standin::Error& err, std::uint8_t doneToken) {
  w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
  w.DoneToken(doneToken, kDoneError | kDoneMore, 0, 0);
}

bool Server::Session::BeginTran(TokenWriter& w, standin::Error& err) {
  if (tranCount_ == 0) {
    char* msg = nullptr;
    if (sqlite3_exec(db_.handle(), "BEGIN", nullptr, nullptr, &msg) != SQLITE_OK) {
      err.native = 3902;
      err.message = std::string("The transaction could not begin: ") + (msg != nullptr ? msg : "");
      sqlite3_free(msg);
      return false;
    }
    descriptor_ = (static_cast<std::uint64_t>(spid_) << 32) | ++lastDescriptor_;
    w.EnvChangeTransaction(8, descriptor_);
  }
  ++tranCount_;
  return true;
}

bool Server::Session::CommitTran(TokenWriter& w, standin::Error& err) {
  if (tranCount_ == 0) {
    err.native = 3902;
    err.message = "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.";
    return false;
  }
  if (tranCount_ > 1) {
    --tranCount_;
    return true;
  }
  char* msg = nullptr;
  int rc = sqlite3_exec(db_.handle(), "COMMIT", nullptr, nullptr, &msg);
  sqlite3_free(msg);
  if (rc != SQLITE_OK) {
    // The commit could not take its lock: the work is rolled back, as a
    // deadlock victim's is.
    RollbackTran(&w);
    err.native = 1205;
    err.message = "Transaction (Process ID " + std::to_string(spid_) +
                  ") was deadlocked on lock resources with another process and has been chosen as the deadlock "
                  "victim. Rerun the transaction.";
    return false;
  }
  tranCount_ = 0;
  w.EnvChangeTransaction(9, descriptor_);
  descriptor_ = 0;
  return true;
}

void Server::Session::RollbackTran(TokenWriter* w) {
  if (tranCount_ == 0) return;
  sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  tranCount_ = 0;
  if (w != nullptr) w->EnvChangeTransaction(10, descriptor_);
  descriptor_ = 0;
}

Server::Session::Outcome Server::Session::RunStatements(const std::vector<std::string>& statements,
                                                        const std::map<std::string, Value>& params, TokenWriter& w,
                                                        std::uint8_t doneToken) {
  Outcome result = Outcome::Ok;
  for (const std::string& st : statements) {
    Outcome o = RunOne(st, params, w, doneToken);
    if (o == Outcome::Drop || o == Outcome::Stall) return o;
    if (o == Outcome::Failed) result = Outcome::Failed;
    if (o == Outcome::Abort) return Outcome::Abort;
  }
  return result;
}

Server::Session::Outcome Server::Session::RunOne(const std::string& statement,
                                                 const std::map<std::string, Value>& params, TokenWriter& w,
                                                 std::uint8_t doneToken) {
  if (faults_ != nullptr) {
    // As a server that hangs: no answer until the client cancels the
    // statement (an attention, answered as SQL Server does) or goes.
    if (faults_->StallStatement(statement)) return Outcome::Stall;
    if (faults_->TakeDrop()) return Outcome::Drop;
    int native = 0;
    if (faults_->FailStatement(statement, native)) {
      return Refuse(w, doneToken, native,
                    "Statement failed on purpose (control file): native error " + std::to_string(native) + ".");
    }
  }
  standin::Error err;
  std::string body;
  if (SplitTranCountTest(statement, body)) {
    if (tranCount_ > 0) return RunOne(body, params, w, doneToken);
    w.DoneToken(doneToken, kDoneMore, 0, 0);
    return Outcome::Ok;
  }
  Outcome o = Outcome::Ok;
  StmtKind kind = Classify(statement);
  switch (kind) {
    case StmtKind::Set: o = SetStatement(statement, w, doneToken); break;
    case StmtKind::Begin:
    case StmtKind::Commit:
      if (!(kind == StmtKind::Begin ? BeginTran(w, err) : CommitTran(w, err))) return Failed(w, err, doneToken);
      w.DoneToken(doneToken, kDoneMore, 0, 0);
      break;
    case StmtKind::Rollback:
      if (tranCount_ == 0) {
        return Refuse(w, doneToken, 3903, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
      }
      RollbackTran(&w);
      w.DoneToken(doneToken, kDoneMore, 0, 0);
      break;
    case StmtKind::Save:
      return Refuse(w, doneToken, 50000,
                    "The stand-in does not keep savepoints (SAVE TRANSACTION); use BEGIN, COMMIT and ROLLBACK TRAN.");
    case StmtKind::Engine: {
      if (implicitTransactions_ && tranCount_ == 0 && !BeginTran(w, err)) return Failed(w, err, doneToken);
      SessionValues values;
      values.spid = spid_;
      values.rowCount = rowCount_;
      values.tranCount = tranCount_;
      o = RunEngine(Substitute(statement, values, params), w, doneToken);
      break;
    }
  }
  if (faults_ != nullptr && o == Outcome::Ok) faults_->CountSuccess();
  return o;
}

Server::Session::Outcome Server::Session::SetStatement(const std::string& statement, TokenWriter& w,
                                                       std::uint8_t doneToken) {
  SetOption opt;
  auto refuse = [&](int native, std::string text) { return Refuse(w, doneToken, native, std::move(text)); };
  if (!ParseSet(statement, opt)) return refuse(102, "Incorrect syntax near 'SET'.");
  const std::string& o = opt.option;
  const std::string& v = opt.value;
  bool on = v == "ON";
  bool off = v == "OFF";
  // The options the session keeps.
  if (o == "NOCOUNT" && (on || off)) {
    nocount_ = on;
  } else if (o == "XACT_ABORT" && (on || off)) {
    xactAbort_ = on;
  } else if (o == "IMPLICIT_TRANSACTIONS" && (on || off)) {
    implicitTransactions_ = on;
  } else if (o == "ARITHABORT" || o == "ARITHIGNORE" || o == "NUMERIC_ROUNDABORT" || o == "CONCAT_NULL_YIELDS_NULL" ||
             o == "ANSI_NULL_DFLT_ON" || o == "ANSI_NULL_DFLT_OFF" || o == "CURSOR_CLOSE_ON_COMMIT" ||
             o == "TEXTSIZE" || o == "DATEFIRST" || o == "DEADLOCK_PRIORITY" || o == "LOCK_TIMEOUT" ||
             o == "TRANSACTION ISOLATION LEVEL" || o == "STATISTICS" || o == "SHOWPLAN_ALL" || o == "SHOWPLAN_TEXT" ||
             o == "SHOWPLAN_XML" || o == "QUERY_GOVERNOR_COST_LIMIT" || o == "CONTEXT_INFO" || o == "NO_BROWSETABLE" ||
             o == "REMOTE_PROC_TRANSACTIONS" || o == "FORCEPLAN" || o == "ANSI_DEFAULTS") {
    // Accepted and ignored: they change nothing the engine does (it always
    // raises arithmetic errors, joins NULL to NULL, reads committed data
    // and waits 5 s for a lock).
  } else if ((o == "ANSI_NULLS" || o == "ANSI_PADDING" || o == "ANSI_WARNINGS" || o == "QUOTED_IDENTIFIER") &&
             (on || off)) {
    if (!on) return refuse(50000, "The stand-in always runs with " + o + " ON; SET " + o + " OFF is not served.");
  } else if ((o == "FMTONLY" || o == "NOEXEC" || o == "PARSEONLY") && (on || off)) {
    if (!off) return refuse(50000, "The stand-in does not serve SET " + o + " ON.");
  } else if (o == "LANGUAGE") {
    if (v != "US_ENGLISH" && v != "ENGLISH" && v != "'US_ENGLISH'" && v != "N'US_ENGLISH'")
      return refuse(50000, "The stand-in speaks us_english only; SET LANGUAGE " + v + " is not served.");
  } else if (o == "DATEFORMAT") {
    if (v != "MDY")
      return refuse(50000, "The stand-in reads dates as mdy only; SET DATEFORMAT " + v + " is not served.");
  } else if (o == "ROWCOUNT") {
    if (v != "0") return refuse(50000, "The stand-in does not limit row counts; SET ROWCOUNT " + v + " is not served.");
  } else {
    return refuse(195, "'" + o + "' is not a recognized SET option.");
  }
  w.DoneToken(doneToken, kDoneMore, 0, 0);
  return Outcome::Ok;
}

Server::Session::Outcome Server::Session::RunEngine(const std::string& text, TokenWriter& w, std::uint8_t doneToken) {
  tsql::Execution ex;
  standin::Error err;
  if (!tsql::Execute(db_.handle(), text, ex, err)) {
    rowCount_ = 0;
    bool inTran = tranCount_ > 0;
    if (inTran && (err.native == 1222 || xactAbort_)) {
      // SQLite cannot go on with a transaction whose lock it could not
      // take (another session wrote since it read): it ends as a deadlock
      // victim's does. Under XACT_ABORT every error ends it.
      if (err.native == 1222) {
        err.native = 1205;
        err.message = "Transaction (Process ID " + std::to_string(spid_) +
                      ") was deadlocked on lock resources with another process and has been chosen as the "
                      "deadlock victim. Rerun the transaction.";
      }
      WriteError(w, err, doneToken);
      RollbackTran(&w);
      return Outcome::Abort;
    }
    WriteError(w, err, doneToken);
    // A statement that names what does not exist, or is not T-SQL the
    // engine reads, ends its batch, as SQL Server's compile errors do.
    bool compile = err.native == 102 || err.native == 207 || err.native == 208 || err.native == 156;
    return compile ? Outcome::Abort : Outcome::Failed;
  }
  if (ex.stmt != nullptr) return Query(ex, text, w, doneToken);
  std::uint16_t count = nocount_ ? 0 : kDoneCount;
  if (ex.rowCount >= 0) {
    rowCount_ = ex.rowCount;
    w.DoneToken(doneToken, count | kDoneMore, CurCmdOf(ex.kind), static_cast<std::uint64_t>(ex.rowCount));
  } else {
    rowCount_ = 0;
    w.DoneToken(doneToken, kDoneMore, CurCmdOf(ex.kind), 0);
  }
  return Outcome::Ok;
}

Server::Session::Outcome Server::Session::Query(tsql::Execution& ex, const std::string& text, TokenWriter& w,
                                                std::uint8_t doneToken) {
  sqlite3* db = db_.handle();
  std::vector<ColumnDesc> cols = DescribeColumns(ex.stmt, ex.rowPending);
  w.ColumnMetadata(cols);
  Cursor* into = capture_ != nullptr && !capture_->captured ? capture_ : nullptr;
  if (into != nullptr) {
    into->captured = true;
    into->cols = cols;
  }
  std::uint64_t rows = 0;
  std::vector<Value> values(cols.size());
  std::uint16_t count = nocount_ ? 0 : kDoneCount;
  for (;;) {
    standin::Error err;
    int r = tsql::StepRow(db, ex, text, err);
    if (r > 0) {
      for (std::size_t i = 0; i < cols.size() && r > 0; ++i) {
        if (!ReadValue(ex.stmt, static_cast<int>(i), cols[i], values[i], err)) r = -1;
      }
    }
    if (r < 0) {
      rowCount_ = static_cast<long long>(rows);
      w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
      w.DoneToken(doneToken, kDoneError | count | kDoneMore, kCmdSelect, rows);
      return Outcome::Failed;
    }
    if (r == 0) break;
    if (into != nullptr) {
      into->rows.push_back(values);
    } else {
      w.Row(cols, values);
    }
    ++rows;
  }
  ex.Reset();
  rowCount_ = static_cast<long long>(rows);
  w.DoneToken(doneToken, count | kDoneMore, kCmdSelect, rows);
  return Outcome::Ok;
}

bool Server::Session::Batch(const Bytes& msg) {
  std::string text;
  std::string why;
  if (!ParseBatch(msg, text, why)) {
    Close("closed: " + why);
    return false;
  }
  server_.Journal(text);
  TokenWriter w;
  std::vector<std::string> statements = SplitBatch(text);
  if (statements.empty()) {
    w.Done(kDoneFinal, 0, 0);
    return Reply(w);
  }
  const Outcome o = RunStatements(statements, {}, w, 0xFD);
  if (bool keepOpen = false; EndedByFault(o, keepOpen)) return keepOpen;
  w.EndMore();
  if (!Reply(w)) {
    Close("closed: reply not sent");
    return false;
  }
  return true;
}

bool Server::Session::TransactionManager(const Bytes& msg) {
  TmRequest tm;
  std::string why;
  if (!ParseTm(msg, tm, why)) {
    Close("closed: " + why);
    return false;
  }
  TokenWriter w;
  standin::Error err;
  bool ok = true;
  switch (tm.type) {
    case 5:  // TM_BEGIN_XACT
      ok = BeginTran(w, err);
      server_.Journal("BEGIN TRANSACTION");
      break;
    case 7:  // TM_COMMIT_XACT
      server_.Journal("COMMIT TRANSACTION");
      ok = CommitTran(w, err) && (!tm.beginAfter || BeginTran(w, err));
      break;
    case 8:  // TM_ROLLBACK_XACT
      server_.Journal("ROLLBACK TRANSACTION");
      if (tranCount_ == 0) {
        err.native = 3903;
        err.message = "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.";
        ok = false;
      } else {
        RollbackTran(&w);
        ok = !tm.beginAfter || BeginTran(w, err);
      }
      break;
    default:
      err.native = 50000;
      err.message = "The stand-in's TDS listener does not serve transaction manager requests of type " +
                    std::to_string(tm.type) + " (only begin, commit and rollback).";
      server_.Log(peer_ + ": transaction manager request " + std::to_string(tm.type) + " answered with an error");
      ok = false;
      break;
  }
  if (ok) {
    w.Done(kDoneFinal, 0, 0);
  } else {
    w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
    w.Done(kDoneError, 0, 0);
  }
  if (!Reply(w)) {
    Close("closed: reply not sent");
    return false;
  }
  return true;
}

bool Server::Session::Rpc(const Bytes& msg) {
  std::vector<RpcCall> calls;
  std::string why;
  TokenWriter w;
  if (!ParseRpc(msg, calls, why)) {
    // A request the listener cannot read is answered, not dropped: the
    // client reports the error and the session goes on.
    server_.Journal("RPC: " + why);
    server_.Log(peer_ + ": RPC answered with an error: " + why);
    w.Error(50000, 1, 16, "The stand-in's TDS listener cannot read this RPC request: " + why + ".", kServerName);
    w.Done(kDoneError, 0, 0);
    return Reply(w);
  }
  for (const RpcCall& call : calls) {
    // The procedure by number or by name (schema and database prefixes off).
    std::string name = call.procName;
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static const char* const kById[] = {"",
                                        "sp_cursor",
                                        "sp_cursoropen",
                                        "sp_cursorprepare",
                                        "sp_cursorexecute",
                                        "sp_cursorprepexec",
                                        "sp_cursorunprepare",
                                        "sp_cursorfetch",
                                        "sp_cursoroption",
                                        "sp_cursorclose",
                                        "sp_executesql",
                                        "sp_prepare",
                                        "sp_execute",
                                        "sp_prepexec",
                                        "sp_prepexecrpc",
                                        "sp_unprepare"};
    if (call.procId > 0) name = call.procId < 16 ? kById[call.procId] : "procedure " + std::to_string(call.procId);

    // The journal: the call as SQL Server's own trace shows it, every
    // parameter with its value.
    std::string line = "EXEC " + name;
    for (std::size_t i = 0; i < call.params.size(); ++i) {
      const RpcParam& p = call.params[i];
      line += (i == 0 ? " " : ", ") + (p.name.empty() ? "" : p.name + " = ") + Literal(p.value) +
              (p.output ? " OUTPUT" : "");
    }
    server_.Journal(line);

    auto text = [&](std::size_t i) {
      return i < call.params.size() &&
                     (call.params[i].value.kind == Value::Text || call.params[i].value.kind == Value::NText)
                 ? call.params[i].value.text
                 : std::string();
    };
    auto handleOf = [&](std::size_t i) {
      return i < call.params.size() && call.params[i].value.kind == Value::Int
                 ? static_cast<int>(call.params[i].value.i)
                 : -1;
    };
    // The values from `first` on, by name or by their place in `names`.
    auto bind = [&](std::size_t first, const std::vector<std::string>& names) {
      std::map<std::string, Value> params;
      for (std::size_t i = first; i < call.params.size(); ++i) {
        const RpcParam& p = call.params[i];
        std::string key = p.name.empty() ? (i - first < names.size() ? names[i - first] : "") : tsql::Upper(p.name);
        if (!key.empty()) params[key] = p.value;
      }
      return params;
    };
    standin::Error err;
    Outcome o = Outcome::Ok;
    int handle = 0;
    bool returnsHandle = false;
    std::vector<std::int32_t> outputs;  // sp_cursoropen's output parameters
    std::int32_t cursorRows = -1;
    if (name == "sp_executesql") {
      if (text(0).empty() && (call.params.empty() || call.params[0].value.kind == Value::Null)) {
        err.native = 201;
        err.message = "Procedure or function 'sp_executesql' expects parameter '@statement', which was not supplied.";
        o = Outcome::Failed;
      } else {
        o = RunStatements(SplitBatch(text(0)), bind(2, DeclaredNames(text(1))), w, 0xFF);
      }
    } else if ((name == "sp_prepare" || name == "sp_prepexec") && prepared_.size() >= kMaxPrepared) {
      err.native = 8179;
      err.message = "The session keeps " + std::to_string(kMaxPrepared) +
                    " prepared statements already; release them with sp_unprepare.";
      o = Outcome::Failed;
    } else if (name == "sp_prepare" || name == "sp_prepexec") {
      PreparedSql ps{text(2), DeclaredNames(text(1))};
      handle = nextHandle_++;
      returnsHandle = true;
      if (name == "sp_prepexec") o = RunStatements(SplitBatch(ps.text), bind(3, ps.names), w, 0xFF);
      prepared_[handle] = std::move(ps);
    } else if (name == "sp_execute") {
      auto it = prepared_.find(handleOf(0));
      if (it == prepared_.end()) {
        err.native = 8179;
        err.message = "Could not find prepared statement with handle " + std::to_string(handleOf(0)) + ".";
        o = Outcome::Failed;
      } else {
        o = RunStatements(SplitBatch(it->second.text), bind(1, it->second.names), w, 0xFF);
      }
    } else if (name == "sp_unprepare") {
      prepared_.erase(handleOf(0));
    } else if (name == "sp_cursoropen" && cursors_.size() >= kMaxPrepared) {
      err.native = 16945;
      err.message = "The session keeps " + std::to_string(kMaxPrepared) + " cursors already; close them first.";
      o = Outcome::Failed;
    } else if (name == "sp_cursoropen") {
      // A static, read-only cursor: the query runs at once and its rows
      // are kept for sp_cursorfetch. A statement without a result runs as
      // it is, and no cursor is made (SQL Server says so with 16954).
      Cursor cursor;
      capture_ = &cursor;
      o = RunStatements(SplitBatch(text(1)), bind(6, DeclaredNames(text(5))), w, 0xFF);
      capture_ = nullptr;
      int id = 0;
      if (cursor.captured && o != Outcome::Drop && o != Outcome::Stall) {
        id = nextCursor_++;
        cursorRows = static_cast<std::int32_t>(cursor.rows.size());
        cursors_[id] = std::move(cursor);
      } else if (o == Outcome::Ok) {
        w.Error(16954, 1, 10, "Executing SQL directly; no cursor.", kServerName);
      }
      outputs = {id, 8 /* static */, 1 /* read only */, cursorRows};
    } else if (name == "sp_cursorfetch") {
      auto it = cursors_.find(handleOf(0));
      int fetchType = handleOf(1) < 0 ? 2 : handleOf(1);
      int wanted = handleOf(3) <= 0 ? 1 : handleOf(3);
      if (it == cursors_.end()) {
        err.native = 16950;
        err.message = "The variable '@cursor' does not currently have a cursor allocated to it.";
        o = Outcome::Failed;
      } else if (fetchType != 1 && fetchType != 2) {
        err.native = 16911;
        err.message = "fetch: The fetch type " + std::to_string(fetchType) +
                      " cannot be used with forward only cursors. (The stand-in's cursors read forward only.)";
        o = Outcome::Failed;
      } else {
        Cursor& c = it->second;
        if (fetchType == 1) c.next = 0;
        w.ColumnMetadata(c.cols);
        std::uint64_t sent = 0;
        for (; sent < static_cast<std::uint64_t>(wanted) && c.next < c.rows.size(); ++sent)
          w.Row(c.cols, c.rows[c.next++]);
        w.DoneToken(0xFF, kDoneCount | kDoneMore, kCmdSelect, sent);
      }
    } else if (name == "sp_cursorclose") {
      cursors_.erase(handleOf(0));
    } else if (name == "sp_tables") {
      // The catalog's tables, as ODBC's SQLTables asks for them: by name,
      // owner (schema) and type, each a LIKE pattern (absent: any).
      auto arg = [&](const char* named, std::size_t at) {
        for (const RpcParam& p : call.params) {
          if (tsql::Upper(p.name) == named) return p.value.kind == Value::Null ? std::string("%") : p.value.text;
        }
        bool positional = at < call.params.size() && call.params[at].name.empty();
        return positional && call.params[at].value.kind != Value::Null ? call.params[at].value.text : std::string("%");
      };
      std::string table = arg("@TABLE_NAME", 0), owner = arg("@TABLE_OWNER", 1), types = arg("@TABLE_TYPE", 3);
      std::vector<ColumnDesc> cols = {{"TABLE_QUALIFIER", ColKind::NVarChar, 128},
                                      {"TABLE_OWNER", ColKind::NVarChar, 128},
                                      {"TABLE_NAME", ColKind::NVarChar, 128},
                                      {"TABLE_TYPE", ColKind::VarChar, 32},
                                      {"REMARKS", ColKind::VarChar, 254}};
      w.ColumnMetadata(cols);
      std::uint64_t sent = 0;
      bool wantTables = types == "%" || tsql::Upper(types).find("TABLE") != std::string::npos;
      sqlite3_stmt* st = nullptr;
      if (wantTables && sqlite3_prepare_v2(db_.handle(),
                                           "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE '%.%' "
                                           "AND name NOT LIKE 'sys.%' ORDER BY name",
                                           -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW) {
          std::string full = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
          std::size_t dot = full.find('.');
          std::string schema = full.substr(0, dot), tab = full.substr(dot + 1);
          if (!Like(tab, table) || !Like(schema, owner)) continue;
          std::vector<Value> row = {Value{Value::Text, 0, 0, server_.dbName_}, Value{Value::Text, 0, 0, schema},
                                    Value{Value::Text, 0, 0, tab}, Value{Value::Text, 0, 0, "TABLE"}, Value{}};
          w.Row(cols, row);
          ++sent;
        }
      }
      sqlite3_finalize(st);
      w.DoneToken(0xFF, kDoneCount | kDoneMore, kCmdSelect, sent);
    } else if (name == "sp_cursoroption") {
      // Cursor names and text pointers: nothing the stand-in's cursors use.
    } else {
      // The other catalog procedures and the cursor procedure that
      // changes rows are not served: the client gets an error it reports.
      err.native = 2812;
      err.message = "Could not find stored procedure '" + name +
                    "'. (The stand-in's TDS listener serves sp_executesql, sp_prepare, sp_execute, sp_prepexec, "
                    "sp_unprepare, sp_tables and read-only cursors read forward: sp_cursoropen, sp_cursorfetch, "
                    "sp_cursorclose; no other catalog procedures.)";
      server_.Log(peer_ + ": RPC " + name + " answered with an error");
      o = Outcome::Failed;
    }
    if (bool keepOpen = false; EndedByFault(o, keepOpen)) return keepOpen;
    if (!err.message.empty()) w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
    w.ReturnStatus(o == Outcome::Ok ? 0 : 1);
    if (returnsHandle) {
      std::string pname = call.params.empty() || call.params[0].name.empty() ? "@handle" : call.params[0].name;
      w.ReturnInt(pname, handle);
    }
    // sp_cursoropen's outputs: @cursor, @scrollopt, @ccopt, @rowcount.
    static const std::size_t kOutputAt[] = {0, 2, 3, 4};
    for (std::size_t k = 0; k < outputs.size() && k < 4; ++k) {
      std::size_t at = kOutputAt[k];
      w.ReturnInt(at < call.params.size() ? call.params[at].name : "", outputs[k]);
    }
    w.DoneToken(0xFE, kDoneMore | (o == Outcome::Ok ? 0 : kDoneError), 0, 0);
  }
  w.EndMore();
  if (!Reply(w)) {
    Close("closed: reply not sent");
    return false;
  }
  return true;
}

Server::~Server() {
  if (listenFd_ >= 0) close(listenFd_);
}

void Server::Log(const std::string& line) {
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  std::lock_guard<std::mutex> lock(logMu_);
  std::cerr << stamp << " kranzel-standin-server: " << line << std::endl;
}

standin::FaultState* Server::Faults(std::string& why) {
  why.clear();
  if (settings_.control.empty()) return nullptr;
  return standin::FaultsForControlFile(settings_.control, why);
}

void Server::Journal(const std::string& text) {
  std::lock_guard<std::mutex> lock(journalMu_);
  journal_.Write(text);
}

bool Server::Start(std::string& why) {
  struct stat st {};
  if (stat(settings_.database.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "the database file " + settings_.database + " does not exist; create it with: kranzel-standin create " +
          settings_.database + " schema/qvsystem.sql";
    return false;
  }
  // Opened once here so that a file SQLite cannot use refuses the start;
  // every session opens its own connection.
  standin::Error err;
  tsql::Database probe;
  if (!probe.Open(settings_.database, false, err)) {
    why = err.message;
    return false;
  }
  std::string base = settings_.database.substr(settings_.database.find_last_of('/') + 1);
  dbName_ = base.substr(0, base.find('.'));
  if (dbName_.empty()) dbName_ = "kranzel";
  if (!settings_.journal.empty()) {
    if (!journal_.Open(settings_.journal)) {
      why = "cannot open the journal " + settings_.journal + ": " + std::strerror(errno);
      return false;
    }
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(settings_.port));
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 64) != 0) {
    why = "cannot listen on 127.0.0.1:" + std::to_string(settings_.port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void Server::Reap() {
  for (auto it = slots_.begin(); it != slots_.end();) {
    if ((*it)->done) {
      (*it)->thread.join();
      close((*it)->fd);
      it = slots_.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Run(volatile std::sig_atomic_t& stop) {
  sigset_t open;
  sigemptyset(&open);
  while (!stop) {
    pollfd p{listenFd_, POLLIN, 0};
    int r = ppoll(&p, 1, nullptr, &open);
    if (r < 0) {
      if (errno == EINTR) continue;
      Log(std::string("poll: ") + std::strerror(errno));
      break;
    }
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Reap();
    // A client that stops reading must not hold its session for ever.
    timeval tv{settings_.stallMs / 1000, static_cast<suseconds_t>(settings_.stallMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    std::string name = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    std::size_t serving = 0, refusing = 0;
    std::vector<bool> taken;
    for (const auto& slot : slots_) {
      if (slot->refusing) {
        ++refusing;
        continue;
      }
      ++serving;
      std::size_t k = static_cast<std::size_t>(slot->spid - kFirstSpid);
      if (k >= taken.size()) taken.resize(k + 1);
      taken[k] = true;
    }
    bool full = serving >= static_cast<std::size_t>(settings_.maxSessions);
    if (full && refusing >= kRefusers) {
      Log(name + ": connected and closed at once: " + std::to_string(serving) + " sessions and " +
          std::to_string(refusing) + " refusals under way");
      close(fd);
      continue;
    }
    // A session's number (its SPID) is the lowest one free, as SQL Server
    // hands them out.
    std::size_t k = 0;
    while (k < taken.size() && taken[k]) ++k;
    auto slot = std::make_unique<Slot>();
    slot->fd = fd;
    slot->refusing = full;
    slot->spid = full ? 0 : kFirstSpid + static_cast<int>(k);
    Log(name + (full ? ": connected; every session is taken, the login will be refused" : ": connected"));
    Slot* raw = slot.get();
    try {
      raw->thread = std::thread([this, raw, name] {
        Session(*this, raw->fd, name, raw->spid, raw->refusing).Serve();
        // The client sees the end at once; the descriptor itself is closed
        // when the thread is joined, so it cannot be reused under a stop.
        shutdown(raw->fd, SHUT_RDWR);
        raw->done = true;
      });
    } catch (const std::system_error& e) {
      Log(name + ": closed: no thread for the session (" + e.what() + ")");
      close(fd);
      continue;
    }
    slots_.push_back(std::move(slot));
  }
  // Every session ends: its socket shut down wakes it, its open
  // transaction is rolled back.
  stopping_ = true;
  for (const auto& slot : slots_) shutdown(slot->fd, SHUT_RDWR);
  for (const auto& slot : slots_) {
    slot->thread.join();
    close(slot->fd);
  }
  slots_.clear();
  Log("stopped");
}

}  // namespace tds
