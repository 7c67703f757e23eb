// The import run from command line to exit code.
#include "run/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "db/connection.h"
#include "db/statement.h"
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/text_reader.h"

std::string ServerTimestamp;
std::string ServerDate;

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

constexpr const char* kUsage =
    "Befehlsformat: \n"
    "Kranzel_<DBSys>.exe  <Quelldatei>  <Dateityp>  [/D] \n"
    "DBSys     : Datenbanksystem\n"
    "Quelldatei: Verzeichnis (Pfad)  und Name der Quelldatei\n"
    "Dateityp  : 20p  f. Datei MGSST20P\n"
    "            35p  f. Datei MGSST35P\n"
    "            41p  f. Datei MGSST41P\n"
    "            Mnd  f. Datei MNDSTAMM\n"
    "            SLD  f. Datei SALDO\n"
    "            IDN  f. Datei IDStamm\n"
    "            KST  f. Datei Kostenst\n"
    "            BKL  f. Datei AswBkl\n"
    "            ftg  f. Datei Feiertag\n"
    "            mst  f. Datei MitarbeiterStatus\n"
    "            mdt  f. Datei MitarbeiterDetail\n"
    "            fcd  f. Datei Funktionscodes\n"
    "/D        : DebugFlag, optional, Ausgabe von Meldungen im DOS-Fenster\n"
    "\n";

using Importer = int (*)(platform::TextReader&);

// The file types in the order in which they are compared.
struct FileTypeEntry {
  const char* code;
  Importer importer;
};
constexpr FileTypeEntry kFileTypes[] = {
    {"20P", Import20P}, {"35P", Import35P}, {"41P", Import41P}, {"MND", ImportMnd},
    {"IDN", ImportIdn}, {"SLD", ImportSld}, {"KST", ImportKst}, {"BKL", ImportBkl},
    {"FTG", ImportFtg}, {"MST", ImportMst}, {"MDT", ImportMdt}, {"FCD", ImportFcd},
};

Importer FindImporter(const std::string& fileType) {
  for (const FileTypeEntry& e : kFileTypes)
    if (fileType == e.code) return e.importer;
  return nullptr;
}

std::string Upper(const char* arg) {
  std::string s = arg;
  return StrUpper(s);
}

}  // namespace

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
    std::fputs(kUsage, stdout);
    std::fputs("Parameterfehler", stdout);
    std::fflush(stdout);
    return kExitUsage;
  }

  // The switches count only in the order "UPD" then "/D".
  if (args == 3) DebugFlag = Upper(argv[3]) == "/D";
  if (args >= 4) DebugFlag = Upper(argv[4]) == "/D";
  if (args >= 3) UpdateMode = Upper(argv[3]) == "UPD";

  LogPath = platform::NativePath("../../Valdura_php/log/kranzel.log");
  OldLogPath = platform::NativePath("../../Valdura_php/log/kranzel.old");

  if (dbLogin() != 0 && dbReconnect() == 0) return kExitFailed;

  SQL_GetServerTimestamp(ServerTimestamp);
  ServerDate = DateOfTimestamp(ServerTimestamp);

  // The source replaces an older work file in one step; when the source is
  // missing, the older work file (the last file delivered) stays.
  const std::string source = argv[1];
  const std::string work = WorkName(source);
  errno = 0;
  if (!platform::RenameReplace(source, work)) {
    const int reason = errno;
    LogF("Quelldatei auf Server nicht gefunden.");
    // Added beside the message above: the path looked for (as given, from
    // this working directory) and why it could not be moved.
    LogF("Quelldatei %s nicht nach %s umbenannt: %s", source.c_str(), work.c_str(),
         reason != 0 ? std::strerror(reason) : "unbekannter Grund");
    return kExitUsage;
  }

  std::string fileType = Upper(argv[2]).substr(0, 3);

  int last = 1;
  platform::TextReader stream;
  for (int attempt = 1; attempt <= kImportAttempts; ++attempt) {
    if (!stream.Open(work)) {
      LogF("Oeffnen der Datei fehlgeschlagen.");
      last = 1;
    } else {
      Importer importer = FindImporter(fileType);
      if (importer == nullptr) {
        LogF("unbekannter Dateityp %s!", fileType.c_str());
        stream.Close();
        return kExitUsage;
      }
      last = importer(stream);
    }
    if (last == 0) {
      LogF("Die Schnittstellendatei vom Dateityp '%s' wurde importiert!", fileType.c_str());
      dbDisconnect();
      break;
    }
    if (attempt == kImportAttempts) {
      LogF("Die Schnittstellendatei vom Dateityp '%s' konnte nicht importiert werden!",
           fileType.c_str());
      dbDisconnect();
      break;
    }
    if (last == 2 && dbReconnect() == 0) {
      LogF("Die Schnittstellendatei vom Dateityp '%s' konnte auf Grund von "
           "DB-Verbindungproblemen nicht importiert werden.",
           fileType.c_str());
      dbDisconnect();
      break;
    }
    stream.Close();
    platform::SleepMs(kAttemptPauseMs);
  }
  stream.Close();
  return last != 0 ? kExitFailed : kExitImported;
}
