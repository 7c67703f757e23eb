// The test installation's tree and ODBC configuration texts.
#include "support/installation.h"

#include <filesystem>

#include "support/files.h"

#ifndef KRANZEL_SOURCE_DIR
#error "KRANZEL_SOURCE_DIR names the source tree (schema/qvsystem.sql)"
#endif
#ifndef TDSODBC_LIB
#define TDSODBC_LIB "/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"
#endif

namespace fs = std::filesystem;

namespace support {

Attributes InitialConfiguration() {
  return {{"LOGIN", kUser}, {"PASS", kPassword}, {"DB_SYSTEM", "MSSQL"}, {"DATABASE", kDsn}};
}

InstallationLayout InstallationLayout::Create(const std::string& prefix) {
  InstallationLayout l;
  l.root = MakeTempDir(prefix);
  l.workDir = l.root + "/x/y";
  l.iniPath = l.root + "/Files/Valdura.Ini";
  l.logPath = l.root + "/Valdura_php/log/kranzel.log";
  l.odbcDir = l.root + "/odbc";
  l.freetdsConf = l.odbcDir + "/freetds.conf";
  l.dbPath = l.odbcDir + "/db.sqlite";
  l.journalPath = l.odbcDir + "/journal.sql";
  l.controlPath = l.odbcDir + "/control";
  for (const std::string& dir :
       {l.root + "/Files", l.root + "/Valdura_php/log", l.workDir + "/in", l.odbcDir})
    fs::create_directories(dir);
  Spit(l.controlPath, "");
  // FreeTDS reads no system-wide freetds.conf (with its text size and other
  // settings) but this empty one.
  Spit(l.freetdsConf, "");
  return l;
}

std::vector<std::string> CreateDatabaseCommand(const std::string& standinTool,
                                               const std::string& dbPath) {
  return {standinTool, "create", dbPath, std::string(KRANZEL_SOURCE_DIR) + "/schema/qvsystem.sql"};
}

std::string TdsDriver() { return TDSODBC_LIB; }

std::string OdbcInstIni(const std::string& standinLib) {
  return "[KranzelStandin]\nDescription = SQL Server stand-in\nDriver = " + standinLib +
         "\n[FreeTDS]\nDescription = FreeTDS ODBC driver\nDriver = " + TdsDriver() + "\n";
}

std::string DsnSection(const std::string& dsn, const Attributes& attributes) {
  std::string text = "[" + dsn + "]\n";
  for (const auto& [key, value] : attributes) text += key + " = " + value + "\n";
  return text;
}

Attributes StandinAttributes(const InstallationLayout& layout) {
  return {{"Driver", "KranzelStandin"},
          {"Database", layout.dbPath},
          {"User", kUser},
          {"Password", kPassword},
          {"Journal", layout.journalPath}};
}

Attributes FreeTdsAttributes(int port) {
  return {{"Driver", "FreeTDS"},
          {"Server", "127.0.0.1"},
          {"Port", std::to_string(port)},
          {"TDS_Version", "7.4"},
          {"ClientCharset", "CP1252"}};
}

}  // namespace support
