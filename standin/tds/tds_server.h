// The stand-in's TDS listener: serves one stand-in database over TDS 7.4 on
// the loopback interface, so FreeTDS (the production driver on Linux) and any
// other SQL Server client reach the same engine, faults and journal as the
// in-process ODBC driver. Each connection is a session of its own thread
// and its own SQLite connection to the shared database file; their number
// is bounded.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "faults.h"
#include "journal.h"

namespace tds {

struct ServerSettings {
  int port = 0;          // 0: the kernel picks a free port
  std::string database;  // an existing stand-in database file
  std::string user;      // expected login (any when empty); compared without regard to case
  std::string password;  // expected password (any when empty); compared exactly
  std::string control;   // fault control file (optional)
  std::string journal;   // statement journal (optional)
  // How long a packet may take from its first byte to its last, and a
  // client before its login or inside a message may stay silent; a client
  // over it is dropped. Only tests shorten it.
  int stallMs = 10000;
  int maxSessions = 16;  // sessions served at once; the next login is refused
};

class Server {
 public:
  explicit Server(ServerSettings settings) : settings_(std::move(settings)) {}
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the database and the journal and binds 127.0.0.1:port. Returns
  // false with `why` set when any of them fails (nothing is served then).
  bool Start(std::string& why);
  // The port bound by Start.
  [[nodiscard]] int port() const { return port_; }
  // Serves connections, each on a thread of its own, until `stop` becomes
  // non-zero (set by a signal handler; SIGINT and SIGTERM must be blocked
  // by the caller, the wait unblocks them); then ends every session (an
  // open transaction is rolled back) and returns.
  void Run(volatile std::sig_atomic_t& stop);

 private:
  class Session;
  struct Slot {
    std::thread thread;
    int fd = -1;
    int spid = 0;
    bool refusing = false;  // only tells the client the sessions are taken
    std::atomic<bool> done{false};
  };
  void Log(const std::string& line);
  // The fault state of the control file (read at the first connection).
  standin::FaultState* Faults(std::string& why);
  void Journal(const std::string& text);
  // Joins the threads of ended sessions and closes their sockets.
  void Reap();

  ServerSettings settings_;
  std::mutex journalMu_;
  standin::Journal journal_;
  std::mutex logMu_;
  int listenFd_ = -1;
  int port_ = 0;
  std::string dbName_;
  std::atomic<bool> stopping_{false};
  std::list<std::unique_ptr<Slot>> slots_;  // touched by the accepting thread only
};

}  // namespace tds
