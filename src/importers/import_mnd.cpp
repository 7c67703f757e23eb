// Importer of the MND file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportMnd(platform::TextReader&) {
  LogF("Dateityp MND wird noch nicht unterstuetzt");
  return kImportBadLength;
}
