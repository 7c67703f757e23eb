// The layout of a test installation, shared by the end-to-end harness and the
// bench, so that both run kranzel in the tree an installation has:
//
//   <root>/Files/Valdura.Ini          LOGIN, PASS, DB_SYSTEM, DATABASE
//   <root>/Valdura_php/log/           kranzel.log, kranzel.old
//   <root>/x/y/                       working directory of every run (in/ for deliveries)
//   <root>/odbc/                      ODBCSYSINI: odbcinst.ini, odbc.ini, freetds.conf,
//                                     db.sqlite, journal.sql, control
//
// and the texts of its ODBC configuration: the stand-in and FreeTDS as
// drivers, and a data source either on the stand-in (its attributes as
// given) or through FreeTDS to the stand-in's TDS listener.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace support {

using Attributes = std::vector<std::pair<std::string, std::string>>;

// The credentials and data source every installation is set up with.
inline constexpr const char* kUser = "kranzel";
inline constexpr const char* kPassword = "geheim";
inline constexpr const char* kDsn = "KRANZELDB";

// The configuration values an installation starts with, in the order they
// are written: LOGIN, PASS, DB_SYSTEM, DATABASE.
Attributes InitialConfiguration();

struct InstallationLayout {
  // A fresh temporary root named `prefix` plus a unique suffix, with the
  // folders above (and an empty fault control file). Throws
  // std::runtime_error when it cannot be made.
  static InstallationLayout Create(const std::string& prefix);

  std::string root;
  std::string workDir;      // <root>/x/y
  std::string iniPath;      // <root>/Files/Valdura.Ini
  std::string logPath;      // <root>/Valdura_php/log/kranzel.log
  std::string odbcDir;      // the ODBCSYSINI folder
  std::string freetdsConf;  // an empty freetds.conf (FREETDSCONF)
  std::string dbPath;
  std::string journalPath;
  std::string controlPath;
};

// The command line that creates the stand-in database at `dbPath` from the
// shipped schema with the stand-in's tool `standinTool`.
std::vector<std::string> CreateDatabaseCommand(const std::string& standinTool,
                                               const std::string& dbPath);

// The FreeTDS ODBC driver of this machine.
std::string TdsDriver();

// odbcinst.ini naming the stand-in driver `standinLib` (KranzelStandin) and
// FreeTDS.
std::string OdbcInstIni(const std::string& standinLib);

// One data source of odbc.ini: "[dsn]" and a "key = value" line per attribute.
std::string DsnSection(const std::string& dsn, const Attributes& attributes);

// The attributes of the stand-in driver on `layout`'s database and journal
// with the installation's credentials. No fault control file: the tests
// that inject faults add it ("Control"), the bench measures without one.
Attributes StandinAttributes(const InstallationLayout& layout);

// The attributes of a data source through FreeTDS to a TDS listener on
// loopback `port`. The tool's statements carry the interface files'
// Windows-1252 bytes; FreeTDS sends them as UCS-2 and the listener stores the
// same bytes.
Attributes FreeTdsAttributes(int port);

}  // namespace support
