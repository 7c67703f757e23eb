// Importer of the IDN file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportIdn(platform::TextReader&) {
  LogF("Dateityp IDN wird noch nicht unterstuetzt");
  return kImportBadLength;
}
