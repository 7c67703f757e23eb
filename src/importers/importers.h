// The importers, one per file type. Each takes the open work file at its
// start and returns an import result: 0 imported, 2 database error, 4 wrong
// record length.
#pragma once

#include "platform/text_reader.h"

int Import20P(platform::TextReader& file);
int Import35P(platform::TextReader& file);
int Import41P(platform::TextReader& file);
int ImportMnd(platform::TextReader& file);
int ImportIdn(platform::TextReader& file);
int ImportSld(platform::TextReader& file);
int ImportKst(platform::TextReader& file);
int ImportBkl(platform::TextReader& file);
int ImportFtg(platform::TextReader& file);
int ImportMst(platform::TextReader& file);
int ImportMdt(platform::TextReader& file);
int ImportFcd(platform::TextReader& file);
