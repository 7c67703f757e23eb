// Importer of the MDT file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportMdt(platform::TextReader&) {
  LogF("Dateityp MDT wird noch nicht unterstuetzt");
  return kImportBadLength;
}
