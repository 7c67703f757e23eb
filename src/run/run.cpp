// The import run from command line to exit code.
#include "run/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "config/ini.h"
#include "db/connection.h"
#include "db/statement.h"
#include "importers/importers.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/text_reader.h"
#include "run/run_lock.h"
#include "run/run_summary.h"

namespace run {

namespace {

constexpr const char* kBanner =
    "\n"
    "******************************************************\n"
    "** Projekt     : ORVALSTATIONHUB                    **\n"
    "** Tool        : Daten-Import                       **\n"
    "** Beschreibung: Einlesen der Schnittstellendateien **\n"
    "**   in entsprechende Tabellen des Orvalstationhubs **\n"
    "**                                                  **\n"
    "******************************************************\n"
    "\n";

// The usage text; its lines of file types come from the table of file types.
constexpr const char* kUsageHead =
    "Befehlsformat: \n"
    "Kranzel_<DBSys>.exe  <Quelldatei>  <Dateityp>  [/D] \n"
    "DBSys     : Datenbanksystem\n"
    "Quelldatei: Verzeichnis (Pfad)  und Name der Quelldatei\n";
constexpr const char* kUsageTypes = "Dateityp  : ";
constexpr const char* kUsageMoreTypes = "            ";
constexpr const char* kUsageTail =
    "/D        : DebugFlag, optional, Ausgabe von Meldungen im DOS-Fenster\n"
    "\n";

std::string Usage() {
  std::string usage = kUsageHead;
  const char* column = kUsageTypes;
  for (const importers::FileType* type : importers::FileTypes()) {
    usage += column;
    usage += type->usage;
    usage += '\n';
    column = kUsageMoreTypes;
  }
  return usage + kUsageTail;
}

std::string Upper(const char* arg) {
  std::string s = arg;
  return StrUpper(s);
}

// Reads the server's date for the run. On MYSQL installations the IDN
// import dates records with it, so a failed query is logged there, with
// the driver's diagnostic, beside the messages of the run.
void ReadServerDate(importers::ImportContext& context) {
  db::Session& session = *context.Db;
  std::string serverTimestamp;
  const db::StatementResult rc = db::SQL_GetServerTimestamp(session, serverTimestamp);
  context.ServerDate = DateOfTimestamp(serverTimestamp);
  if (!context.DbSystemMysql || (rc.done() && !context.ServerDate.empty())) return;
  const db::DiagRecord& diag = session.diag;
  const std::string diagnostic = diag.SqlState.empty()
                                     ? std::string("keine Diagnose vom ODBC-Treiber")
                                     : diag.SqlState + " " + diag.Message;
  klog::LogF("Serverzeit konnte nicht gelesen werden, Fehler: %ld. ODBC: %s (nativer Fehler %ld)",
             db::LoggedNumber(rc), diagnostic.c_str(), static_cast<long>(diag.NativeError));
}

// The exit code of an import result.
int ExitCode(importers::ImportResult result) {
  return result == importers::ImportResult::Imported ? kExitImported : kExitFailed;
}

// Completes the run summary at one of the run's exits and appends it beside
// the log; returns `exitCode` unchanged, whatever becomes of the summary.
int Finish(RunSummary& summary, const importers::ImportContext& context, int exitCode) {
  const db::Session& session = *context.Db;
  summary.end = SummaryTime();
  summary.records = context.State.LinesCounted;
  summary.inserted = session.counts.inserted;
  summary.updated = session.counts.updated;
  summary.deleted = session.counts.deleted;
  summary.nativeError = session.lastNativeError;
  summary.exitCode = exitCode;
  WriteRunSummary(summary, platform::NativePath("../../Valdura_php/log/kranzel-runs.jsonl"),
                  platform::NativePath("../../Valdura_php/log/kranzel-runs.old"));
  return exitCode;
}

// The attempt loop: up to five imports of the work file from its start, 10 s
// apart, with a reconnect before the next attempt after a database error.
// Success, the last attempt's failure, or a reconnect that fails ends it
// with a message and the disconnect. Returns the exit code; `attempts`
// counts the attempts begun.
int ImportWithAttempts(const std::string& work, const std::string& fileType,
                       importers::ImportContext& context, int& attempts) {
  db::Session& session = *context.Db;
  importers::ImportResult last = importers::ImportResult::FileError;
  platform::TextReader stream;
  for (int attempt = 1; attempt <= kImportAttempts; ++attempt) {
    // The summary tells of the last attempt only.
    attempts = attempt;
    session.counts = db::DriverCounts();
    context.State.LinesCounted = 0;
    // The IDN import of a MYSQL installation cannot go without the server's
    // date: after a failed query (a deadlock, a lost connection) the next
    // attempt, on the connection made again, asks once more.
    if (attempt > 1 && context.DbSystemMysql && context.ServerDate.empty() && fileType == "IDN")
      ReadServerDate(context);
    if (!stream.Open(work)) {
      klog::LogF("Oeffnen der Datei fehlgeschlagen.");
      last = importers::ImportResult::FileError;
    } else {
      // The type is looked up only once the work file is open.
      const importers::FileType* type = importers::FindFileType(fileType);
      if (type == nullptr) {
        klog::LogF("unbekannter Dateityp %s!", fileType.c_str());
        stream.Close();
        return kExitUsage;
      }
      last = type->import(stream, context);
    }
    if (last == importers::ImportResult::Imported) {
      klog::LogF("Die Schnittstellendatei vom Dateityp '%s' wurde importiert!", fileType.c_str());
      db::dbDisconnect(session);
      break;
    }
    if (attempt == kImportAttempts) {
      klog::LogF("Die Schnittstellendatei vom Dateityp '%s' konnte nicht importiert werden!",
                 fileType.c_str());
      db::dbDisconnect(session);
      break;
    }
    if (last == importers::ImportResult::DatabaseError && !db::dbReconnect(session)) {
      klog::LogF(
          "Die Schnittstellendatei vom Dateityp '%s' konnte auf Grund von "
          "DB-Verbindungproblemen nicht importiert werden.",
          fileType.c_str());
      db::dbDisconnect(session);
      break;
    }
    stream.Close();
    platform::SleepMs(kAttemptPauseMs);
  }
  stream.Close();
  return ExitCode(last);
}

}  // namespace

DatabaseConfig ReadDatabaseConfig() {
  const std::string path = platform::NativePath(config::kIniPath);
  DatabaseConfig settings;
  settings.credentials.User = config::ini::Lookup("", "LOGIN", 0, path).value;
  settings.credentials.Password = config::ini::Lookup("", "PASS", 0, path).value;
  settings.dbSystem = config::ini::Lookup("", "DB_SYSTEM", 0, path).value;
  std::string database = config::ini::Lookup("", "DATABASE", 0, path).value;
  if (!database.empty() && database.size() <= kMaxDataSource)
    settings.credentials.DataSource = std::move(database);
  return settings;
}

void LogConfigUnreadable() {
  const std::string path = platform::NativePath(config::kIniPath);
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f != nullptr) {
    std::fclose(f);
    return;
  }
  klog::LogF("Konfigurationsdatei %s nicht lesbar: %s", path.c_str(), std::strerror(errno));
}

std::string& StrUpper(std::string& text) {
  for (std::size_t i = text.size(); i-- > 0;)
    if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  return text;
}

std::string WorkName(const std::string& source) {
  std::string work = source;
  std::size_t dot = work.rfind('.');
  if (dot != std::string::npos) work.resize(dot);
  return work + ".wrk";
}

std::string DateOfTimestamp(const std::string& timestamp) {
  if (timestamp.size() < 10) return std::string();
  return timestamp.substr(6, 4) + timestamp.substr(3, 2) + timestamp.substr(0, 2);
}

int RunKranzel(int argc, char** argv) {
  const int args = argc - 1;
  if (args < 2) {
    std::fputs(kBanner, stdout);
    std::fputs(Usage().c_str(), stdout);
    std::fputs("Parameterfehler", stdout);
    std::fflush(stdout);
    return kExitUsage;
  }

  // The switches count only in the order "UPD" then "/D".
  if (args == 3) klog::DebugFlag = Upper(argv[3]) == "/D";
  if (args >= 4) klog::DebugFlag = Upper(argv[4]) == "/D";
  importers::ImportContext context;
  if (args >= 3) context.UpdateMode = Upper(argv[3]) == "UPD";

  // Every run from here on leaves one line in the run summary, /D or not.
  // (A command line too short to run leaves none: it names nothing to
  // report, and an operator who calls the tool bare to read its usage has
  // not run an import.)
  RunSummary summary;
  summary.start = SummaryTime();
  summary.pid = platform::ProcessId();
  summary.source = argv[1];
  summary.work = WorkName(argv[1]);
  summary.type = Upper(argv[2]).substr(0, 3);
  summary.updateMode = context.UpdateMode != 0;

  klog::LogPath = platform::NativePath("../../Valdura_php/log/kranzel.log");
  klog::OldLogPath = platform::NativePath("../../Valdura_php/log/kranzel.old");

  // Runs of one file type or on one work file wait for each other, before
  // the connection (a waiting run holds none) and before the rename.
  RunLocks locks;
  {
    std::string type = Upper(argv[2]).substr(0, 3);
    TakeRunLocks(importers::FindFileType(type) != nullptr ? type : std::string(), WorkName(argv[1]),
                 locks);
  }

  // The session is closed at every exit from here on.
  DatabaseConfig settings = ReadDatabaseConfig();
  db::Session session(std::move(settings.credentials));
  context.Db = &session;
  if (!db::dbLogin(session)) {
    LogConfigUnreadable();
    if (!db::dbReconnect(session)) return Finish(summary, context, kExitFailed);
  }

  context.DbSystemMysql = StrUpper(settings.dbSystem) == "MYSQL";
  ReadServerDate(context);

  // The source replaces an older work file in one step; when the source is
  // missing, the older work file (the last file delivered) stays.
  const std::string source = argv[1];
  const std::string work = WorkName(source);
  errno = 0;
  if (!platform::RenameReplace(source, work)) {
    const int reason = errno;
    klog::LogF("Quelldatei auf Server nicht gefunden.");
    // Added beside the message above: the path looked for (as given, from
    // this working directory) and why it could not be moved.
    klog::LogF("Quelldatei %s nicht nach %s umbenannt: %s", source.c_str(), work.c_str(),
               reason != 0 ? std::strerror(reason) : "unbekannter Grund");
    return Finish(summary, context, kExitUsage);
  }

  const std::string fileType = Upper(argv[2]).substr(0, 3);
  return Finish(summary, context, ImportWithAttempts(work, fileType, context, summary.attempts));
}

}  // namespace run
