// What the statement cache's path (tsql_prepare.cpp; Prepare itself is
// declared in tsql.h) offers the rest of the translator: the written table
// and values of a cached translation, which MapError reads back to name a
// duplicate key.
#pragma once

#include <string>

#include "tsql_cache.h"

namespace tsql {

struct Connection;

// The WriteInfo of `text` from its cached translation, the literals of
// `text` written in (CURRENT_TIMESTAMP as now, as a translation now would
// write it). False when no translation of its shape is cached. The caller
// holds `c.mu`.
bool CachedWriteInfo(Connection& c, const std::string& text, WriteInfo& out);

}  // namespace tsql
