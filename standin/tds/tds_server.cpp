// The stand-in's TDS listener: accepting connections on 127.0.0.1, one
// session at a time (PRELOGIN, LOGIN7, then SQL batches run by the
// stand-in's engine), with the control file's faults and the journal.
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
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <utility>

#include "tds_wire.h"

namespace tds {

namespace {

const char* const kServerName = "kranzel-standin";
// The largest request message (all packets up to EOM) the listener accepts.
const std::size_t kMaxMessage = std::size_t{4} * 1024 * 1024;

enum class Wait { Ok, Eof, Timeout, Stopped, Failed };

using Clock = std::chrono::steady_clock;

// Reads exactly `n` bytes by `deadline` (none: for ever), however the bytes
// trickle in; the wait lets SIGINT and SIGTERM through.
Wait ReadFully(int fd, std::uint8_t* buf, std::size_t n, std::optional<Clock::time_point> deadline,
               volatile std::sig_atomic_t& stop) {
  sigset_t open;
  sigemptyset(&open);
  std::size_t got = 0;
  while (got < n) {
    if (stop) return Wait::Stopped;
    timespec ts{};
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now());
      if (left.count() <= 0) return Wait::Timeout;
      ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
      ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
    }
    pollfd p{fd, POLLIN, 0};
    int r = ppoll(&p, 1, deadline ? &ts : nullptr, &open);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    if (r == 0) return Wait::Timeout;
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

// The varchar length a result column is declared with: n of a char(n) or
// varchar(n) column, otherwise (an expression, a number, a date) 8000.
std::uint16_t DeclaredLength(const char* decl) {
  if (decl == nullptr) return 8000;
  std::string d;
  for (const char* p = decl; *p != '\0'; ++p)
    d.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p))));
  std::size_t open = d.find('(');
  if (open == std::string::npos) return 8000;
  std::string base = d.substr(0, open);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (base != "char" && base != "varchar" && base != "nchar" && base != "nvarchar") return 8000;
  long n = std::strtol(d.c_str() + open + 1, nullptr, 10);
  return n >= 1 && n <= 8000 ? static_cast<std::uint16_t>(n) : 8000;
}

std::uint16_t CurCmdOf(tsql::Kind kind) {
  switch (kind) {
    case tsql::Kind::Insert: return kCmdInsert;
    case tsql::Kind::Update: return kCmdUpdate;
    case tsql::Kind::Delete: return kCmdDelete;
    case tsql::Kind::Select: return kCmdSelect;
    default: return 0;
  }
}

}  // namespace

// One client connection, from PRELOGIN to the socket's close.
class Server::Session {
 public:
  Session(Server& server, int fd, std::string peer, volatile std::sig_atomic_t& stop)
      : server_(server), fd_(fd), peer_(std::move(peer)), stop_(stop) {}

  void Serve();

 private:
  enum class Read { Message, Closed };
  // Reads one request message; Closed when the connection is to end (the
  // reason is logged).
  Read ReadMessage(std::uint8_t& type, Bytes& msg);
  bool Reply(const TokenWriter& w) { return SendAll(fd_, Concat(Packetize(kTabularResult, w.bytes(), packetSize_))); }
  static Bytes Concat(const std::vector<Bytes>& packets);
  void Close(const std::string& why) { server_.Log(peer_ + ": " + why); }
  bool Login(const Bytes& msg);
  bool Batch(const Bytes& msg);
  bool Query(standin::Execution& ex, const std::string& text);

  Server& server_;
  int fd_;
  std::string peer_;
  volatile std::sig_atomic_t& stop_;
  bool loggedIn_ = false;
  std::size_t packetSize_ = kDefaultPacket;
  standin::FaultState* faults_ = nullptr;
  std::string faultsError_;
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
    // likes; within a message, or before the login, it may not. Once a
    // packet has begun it must be complete within the stall limit, however
    // its bytes trickle in.
    const auto stall = std::chrono::milliseconds(server_.settings_.stallMs);
    std::optional<Clock::time_point> silence;
    if (!(first && loggedIn_)) silence = Clock::now() + stall;
    Wait w = ReadFully(fd_, h, 1, silence, stop_);
    const Clock::time_point packetDue = Clock::now() + stall;
    if (w == Wait::Ok) w = ReadFully(fd_, h + 1, kHeaderSize - 1, packetDue, stop_);
    if (w == Wait::Eof && first) {
      Close("closed by the client");
      return Read::Closed;
    }
    if (w != Wait::Ok) {
      Close(w == Wait::Stopped   ? "closed: the listener stops"
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
      w = ReadFully(fd_, data.data(), data.size(), packetDue, stop_);
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
  if (faults_ != nullptr && faults_->RefuseConnect()) {
    // As a server that is down: the client gets no answer at all.
    Close("refused (control file: refuse_connect)");
    return;
  }
  bool preloginSeen = false;
  for (;;) {
    std::uint8_t type = 0;
    Bytes msg;
    if (ReadMessage(type, msg) == Read::Closed) return;
    if (!loggedIn_) {
      if (type == kPrelogin && !preloginSeen) {
        Prelogin pl;
        std::string why;
        if (!ParsePrelogin(msg, pl, why)) return Close("closed: " + why);
        preloginSeen = true;
        if (!SendAll(fd_, Concat(Packetize(kTabularResult, PreloginReply(), packetSize_))))
          return Close("closed: reply not sent");
        continue;
      }
      if (type == kLogin7) {
        if (!Login(msg)) return;
        continue;
      }
      return Close("closed: packet type " + std::to_string(type) + " before the login");
    }
    switch (type) {
      case kSqlBatch:
        if (!Batch(msg)) return;
        break;
      case kAttention: {
        TokenWriter w;
        w.Done(kDoneAttn, 0, 0);
        if (!Reply(w)) return Close("closed: reply not sent");
        break;
      }
      default: {
        // RPC, bulk load, transaction manager requests...: answered, so a
        // client never waits for a reply that will not come.
        TokenWriter w;
        w.Error(50000, 1, 16,
                "The stand-in's TDS listener does not serve requests of packet type " + std::to_string(type) +
                    " (only SQL batches and attention).",
                kServerName);
        w.Done(kDoneError, 0, 0);
        server_.Log(peer_ + ": packet type " + std::to_string(type) + " answered with an error");
        if (!Reply(w)) return Close("closed: reply not sent");
        break;
      }
    }
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
  auto refuse = [&](int number, const std::string& text) {
    w.Error(number, 1, ClassOf(number), text, kServerName);
    w.Done(kDoneError, 0, 0);
    Reply(w);
    Close("login refused: " + text);
    return false;
  };
  if (!faultsError_.empty()) return refuse(50000, faultsError_);
  // SQL Server compares login names by the server's collation (without
  // regard to case) and passwords exactly.
  const ServerSettings& s = server_.settings_;
  bool userOk = s.user.empty() || EqualsNoCase(s.user, login.userName);
  bool passwordOk = s.password.empty() || s.password == login.password;
  if (!userOk || !passwordOk) return refuse(18456, "Login failed for user '" + login.userName + "'.");

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
  server_.Log(peer_ + ": logged in as '" + login.userName + "'");
  return true;
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
  auto fail = [&](const tsql::Error& err) {
    w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
    w.Done(kDoneError, 0, 0);
    return Reply(w);
  };
  if (faults_ != nullptr) {
    if (faults_->StallStatement(text)) {
      // As a server that hangs: no answer until the client cancels the
      // statement (an attention, answered as SQL Server does) or goes.
      server_.Log(peer_ + ": statement left unanswered (control file: stall_statement)");
      return true;
    }
    if (faults_->TakeDrop()) {
      Close("dropped (control file: drop_after)");
      return false;
    }
    int native = 0;
    if (faults_->FailStatement(text, native)) {
      tsql::Error err;
      err.native = native;
      err.message = "Statement failed on purpose (control file): native error " + std::to_string(native) + ".";
      return fail(err);
    }
  }
  standin::Execution ex;
  tsql::Error err;
  if (!standin::Execute(server_.db_.handle(), text, ex, err)) return fail(err);
  if (faults_ != nullptr) faults_->CountSuccess();
  if (ex.stmt != nullptr) return Query(ex, text);
  if (ex.rowCount >= 0) {
    w.Done(kDoneCount, CurCmdOf(ex.kind), static_cast<std::uint64_t>(ex.rowCount));
  } else {
    w.Done(kDoneFinal, CurCmdOf(ex.kind), 0);
  }
  return Reply(w);
}

bool Server::Session::Query(standin::Execution& ex, const std::string& text) {
  sqlite3* db = server_.db_.handle();
  int n = sqlite3_column_count(ex.stmt);
  std::vector<std::string> names;
  std::vector<std::uint16_t> lengths;
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(ex.stmt, i);
    names.push_back(name != nullptr ? std::string(name).substr(0, 128) : "");
    lengths.push_back(DeclaredLength(sqlite3_column_decltype(ex.stmt, i)));
  }
  TokenWriter w;
  w.ColumnMetadata(names, lengths);
  std::uint64_t rows = 0;
  std::vector<std::string> values(static_cast<std::size_t>(n));
  std::vector<bool> isNull(static_cast<std::size_t>(n));
  for (;;) {
    tsql::Error err;
    int r = standin::StepRow(db, ex, text, err);
    if (r < 0) {
      w.Error(err.native, 1, ClassOf(err.native), err.message, kServerName);
      w.Done(kDoneError | kDoneCount, kCmdSelect, rows);
      return Reply(w);
    }
    if (r == 0) break;
    for (int i = 0; i < n; ++i) {
      std::size_t k = static_cast<std::size_t>(i);
      isNull[k] = sqlite3_column_type(ex.stmt, i) == SQLITE_NULL;
      values[k].clear();
      if (!isNull[k]) {
        const char* v = reinterpret_cast<const char*>(sqlite3_column_text(ex.stmt, i));
        std::size_t len = static_cast<std::size_t>(sqlite3_column_bytes(ex.stmt, i));
        values[k].assign(v != nullptr ? v : "", std::min<std::size_t>(len, lengths[k]));
      }
    }
    w.Row(values, isNull);
    ++rows;
  }
  w.Done(kDoneCount, kCmdSelect, rows);
  return Reply(w);
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
  std::cerr << stamp << " kranzel-standin-server: " << line << std::endl;
}

standin::FaultState* Server::Faults(std::string& why) {
  why.clear();
  if (settings_.control.empty()) return nullptr;
  return standin::FaultsForControlFile(settings_.control, why);
}

void Server::Journal(const std::string& text) { journal_.Write(text); }

bool Server::Start(std::string& why) {
  struct stat st {};
  if (stat(settings_.database.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = "the database file " + settings_.database + " does not exist; create it with: kranzel-standin create " +
          settings_.database + " schema/qvsystem.sql";
    return false;
  }
  tsql::Error err;
  if (!db_.Open(settings_.database, false, err)) {
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
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 8) != 0) {
    why = "cannot listen on 127.0.0.1:" + std::to_string(settings_.port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
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
      return;
    }
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // A client that stops reading must not block the listener for ever.
    timeval tv{settings_.stallMs / 1000, static_cast<suseconds_t>(settings_.stallMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    std::string name = std::string(ip) + ":" + std::to_string(ntohs(peer.sin_port));
    Log(name + ": connected");
    Session(*this, fd, name, stop).Serve();
    close(fd);
  }
  Log("stopped");
}

}  // namespace tds
