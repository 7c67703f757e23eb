// Importer of the MST file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportMst(platform::TextReader&) {
  LogF("Dateityp MST wird noch nicht unterstuetzt");
  return kImportBadLength;
}
