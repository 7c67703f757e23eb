// The stand-in's TDS listener: serves one stand-in database over TDS 7.4 on
// the loopback interface, so FreeTDS (the production driver on Linux) and any
// other SQL Server client reach the same engine, faults and journal as the
// in-process ODBC driver. One connection at a time, one after another.
#pragma once

#include <csignal>
#include <cstdio>
#include <string>

#include "driver_db.h"
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
  // Serves connections one after another until `stop` becomes non-zero
  // (set by a signal handler; SIGINT and SIGTERM must be blocked by the
  // caller, the wait unblocks them).
  void Run(volatile std::sig_atomic_t& stop);

 private:
  class Session;
  void Log(const std::string& line);
  // The fault state of the control file (read at the first connection).
  standin::FaultState* Faults(std::string& why);
  void Journal(const std::string& text);

  ServerSettings settings_;
  standin::Database db_;
  standin::Journal journal_;
  int listenFd_ = -1;
  int port_ = 0;
  std::string dbName_;
};

}  // namespace tds
