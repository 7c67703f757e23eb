// Importer of the 41P file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int Import41P(platform::TextReader&) {
  LogF("Dateityp 41P wird noch nicht unterstuetzt");
  return kImportBadLength;
}
