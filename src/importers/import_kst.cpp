// Importer of the KST file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportKst(platform::TextReader&) {
  LogF("Dateityp KST wird noch nicht unterstuetzt");
  return kImportBadLength;
}
