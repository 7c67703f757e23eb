// Importer of the SLD file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportSld(platform::TextReader&) {
  LogF("Dateityp SLD wird noch nicht unterstuetzt");
  return kImportBadLength;
}
