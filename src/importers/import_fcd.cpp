// Importer of the FCD file: not yet built; fails every attempt.
#include "importers/cycle.h"
#include "importers/importers.h"
#include "log/log.h"

int ImportFcd(platform::TextReader&) {
  LogF("Dateityp FCD wird noch nicht unterstuetzt");
  return kImportBadLength;
}
