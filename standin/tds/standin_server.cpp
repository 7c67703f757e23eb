// kranzel-standin-server: serves a stand-in database over TDS on 127.0.0.1,
// so the FreeTDS ODBC driver (and tsql, or any SQL Server client) reaches it.
//
//   kranzel-standin-server --port N --database FILE [--user U]
//                          [--password-file FILE|-] [--control FILE] [--journal FILE]
//                          [--stall-ms N] [--max-sessions N]
//
// The password comes from the first line of a file, or of standard input
// with "-", never from the command line, where every local account would
// read it in the process list.
// --max-sessions: sessions served at once (default 16); a login beyond
// them is refused with SQL Server's error 17809.
// --port 0 lets the kernel pick a free port. Once listening, one line goes to
// standard output: "listening on 127.0.0.1:PORT". The connection log goes to
// standard error. SIGINT or SIGTERM stops it (exit 0); a database file that
// does not exist, or a port that cannot be bound, refuses the start (exit 1);
// a wrong command line exits 2. --stall-ms (default 10000) is how long a
// packet may take from its first byte to its last, and a client before its
// login or inside a message may stay silent, before it is dropped; tests
// shorten it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "tds_server.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

int Usage() {
  std::cerr << "usage: kranzel-standin-server --port N --database FILE [--user U]\n"
               "                              [--password-file FILE|-] [--control FILE] [--journal FILE]\n"
               "                              [--stall-ms N] [--max-sessions N]\n";
  return 2;
}

// The first line of the file (or of standard input for "-"), without its
// line end; false when the file cannot be read or its first line is empty
// (an empty password would let any password in).
bool ReadPassword(const std::string& path, std::string& password) {
  std::ifstream file;
  if (path != "-") {
    file.open(path, std::ios::binary);
    if (!file) return false;
  }
  std::istream& in = path == "-" ? std::cin : file;
  if (!std::getline(in, password) && !in.eof()) return false;
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return !password.empty();
}

}  // namespace

int main(int argc, char** argv) {
  tds::ServerSettings settings;
  bool havePort = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    std::string v = argv[++i];
    if (a == "--port") {
      char* end = nullptr;
      long port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) return Usage();
      settings.port = static_cast<int>(port);
      havePort = true;
    } else if (a == "--database") {
      settings.database = v;
    } else if (a == "--user") {
      settings.user = v;
    } else if (a == "--password-file") {
      if (!ReadPassword(v, settings.password)) {
        std::cerr << "kranzel-standin-server: no password in " << v << " (unreadable, or an empty first line)\n";
        return 1;
      }
    } else if (a == "--password") {
      std::cerr << "kranzel-standin-server: --password is not accepted (the process list would show it); "
                   "use --password-file FILE or --password-file - (standard input)\n";
      return Usage();
    } else if (a == "--control") {
      settings.control = v;
    } else if (a == "--journal") {
      settings.journal = v;
    } else if (a == "--stall-ms") {
      char* end = nullptr;
      long ms = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || ms < 1 || ms > 3600000) return Usage();
      settings.stallMs = static_cast<int>(ms);
    } else if (a == "--max-sessions") {
      settings.maxSessions = std::atoi(v.c_str());
      if (settings.maxSessions < 1 || settings.maxSessions > 1000) return Usage();
    } else {
      return Usage();
    }
  }
  if (!havePort || settings.database.empty()) return Usage();

  // The signals stay blocked except while the listener waits, so a stop
  // request is never lost between a check and a wait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  tds::Server server(settings);
  std::string why;
  if (!server.Start(why)) {
    std::cerr << "kranzel-standin-server: " << why << "\n";
    return 1;
  }
  std::printf("listening on 127.0.0.1:%d\n", server.port());
  std::fflush(stdout);
  server.Run(gStop);
  return 0;
}
