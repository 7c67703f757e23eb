// Importer of the FTG file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportFtg(platform::TextReader&) {
  LogF("Dateityp FTG wird noch nicht unterstuetzt");
  return kImportBadLength;
}
