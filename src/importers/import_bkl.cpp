// Importer of the BKL file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportBkl(platform::TextReader&) {
  LogF("Dateityp BKL wird noch nicht unterstuetzt");
  return kImportBadLength;
}
