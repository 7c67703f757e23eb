// Importer of the 35P file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int Import35P(platform::TextReader&) {
  LogF("Dateityp 35P wird noch nicht unterstuetzt");
  return kImportBadLength;
}
