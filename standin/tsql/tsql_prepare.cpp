// Prepare through the statement cache: the shape of a statement, matching
// a cached translation and binding its literals.
//
// The shape of a statement is its text with every string literal ('...'
// and N'...') replaced by one byte (1 and 2); numbers, names, blanks and
// comments stay, so CONVERT styles, lengths and every other number keep
// their place in the key. A text with a byte 0 to 2 in it is never cached.
//
// A miss translates the statement with its literals as parameters
// (LiteralUse): the translation is the one of the text, with a literal's
// SQLite form replaced by a parameter wherever the literal is copied
// unchanged. The translator reads a literal's value only through calls that
// record the read (the value becomes part of the entry's key) or the
// outcome of a check (the outcome does), so a statement whose shape,
// recorded values and outcomes match translates to the cached text, with
// its own values bound. Setting KRANZEL_STANDIN_CHECK_CACHE=1 in the
// environment checks that on every execution: the translation of the text
// must equal the cached one with the literals written in, or the process
// aborts.
#include "tsql_prepare.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "tsql.h"
#include "tsql_catalog.h"
#include "tsql_connection.h"
#include "tsql_lex.h"
#include "tsql_translate.h"
#include "tsql_translate_parser.h"
#include "tsql_values.h"

namespace tsql {

namespace {

bool CheckEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("KRANZEL_STANDIN_CHECK_CACHE");
    return v != nullptr && v[0] == '1';
  }();
  return enabled;
}

// Replaces every ParamMark(k) of `marked`: `param(k)` gives the text put in
// its place.
template <typename F>
std::string ReplaceMarks(const std::string& marked, F param) {
  std::string out;
  out.reserve(marked.size() + 64);
  std::size_t i = 0;
  while (i < marked.size()) {
    std::size_t z = marked.find('\0', i);
    if (z == std::string::npos) {
      out.append(marked, i, std::string::npos);
      break;
    }
    out.append(marked, i, z - i);
    std::size_t end = marked.find('\0', z + 1);
    if (end == std::string::npos) end = marked.size();  // cannot happen: marks come in pairs
    out += param(std::atoi(marked.c_str() + z + 1));
    i = end + 1;
  }
  return out;
}

// The translation of the text itself: the marks replaced by the SQLite
// literals of the values.
std::string WithLiterals(const std::string& marked, const std::vector<std::string_view>& vals, int nowParam,
                         const std::string& now) {
  return ReplaceMarks(marked, [&](int k) {
    return translator::TextLiteral(k == nowParam ? std::string_view(now) : vals[static_cast<std::size_t>(k)]);
  });
}

std::string WithParameters(const std::string& marked) {
  return ReplaceMarks(marked, [](int k) {
    std::string p(1, '?');
    p += std::to_string(k + 1);
    return p;
  });
}

bool Bind(sqlite3_stmt* st, const std::vector<std::string_view>& vals, bool nowUsed, const std::string& now) {
  int count = sqlite3_bind_parameter_count(st);
  for (std::size_t k = 0; k < vals.size() && static_cast<int>(k) < count; ++k) {
    if (sqlite3_bind_text(st, static_cast<int>(k) + 1, vals[k].data(), static_cast<int>(vals[k].size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
      return false;
    }
  }
  int nowIndex = static_cast<int>(vals.size()) + 1;
  if (nowUsed && nowIndex <= count &&
      sqlite3_bind_text(st, nowIndex, now.data(), static_cast<int>(now.size()), SQLITE_TRANSIENT) != SQLITE_OK) {
    return false;
  }
  return true;
}

std::string NowText(const DateTime& now) { return Canonical(now); }

[[noreturn]] void CheckFailed(const std::string& text, const std::string& cached, const std::string& plain) {
  std::fprintf(stderr,
               "kranzel-standin: statement cache check failed\n  statement: %s\n  cached:    %s\n  translated: %s\n",
               text.c_str(), cached.c_str(), plain.c_str());
  std::abort();
}

// The self-check: the plain translation of `text` at `now` equals `expected`.
void Check(Connection& c, const std::string& text, const std::vector<Token>& toks, std::size_t pos, const DateTime& now,
           const std::string& expected) {
  Statement plain;
  Error err;
  if (!TranslateStatement(c, text, toks, pos, plain, err, nullptr, &now)) {
    CheckFailed(text, expected, "error " + std::to_string(err.native) + " " + err.message);
  }
  if (plain.sql != expected) CheckFailed(text, expected, plain.sql);
}

bool PrepareSql(sqlite3* db, const std::string& sql, const std::string& text, sqlite3_stmt*& st, Error& err) {
  st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st, nullptr);
  if (rc != SQLITE_OK) {
    err = MapError(db, rc, text);
    sqlite3_finalize(st);
    st = nullptr;
    return false;
  }
  return true;
}

// Prepare without the cache: Translate (which runs what must run first),
// then SQLite's prepare.
bool PreparePlain(sqlite3* db, const std::string& text, Prepared& out, Error& err) {
  Translation tr;
  if (!Translate(db, text, tr, err)) return false;
  out.kind = tr.kind;
  if (tr.sql.empty()) return true;
  return PrepareSql(db, tr.sql, text, out.stmt, err);
}

bool IsCachedKind(Kind k) { return k == Kind::Select || k == Kind::Insert || k == Kind::Update || k == Kind::Delete; }

// The shape of `text` (lexed into `toks`): the key and the literal values.
void ShapeOf(const std::string& text, const std::vector<Token>& toks, std::string& key,
             std::vector<std::string_view>& vals) {
  key.reserve(text.size());
  std::size_t last = 0;
  for (const Token& t : toks) {
    if (t.kind != Tok::String && t.kind != Tok::NString) continue;
    key.append(text, last, t.begin - last);
    key += t.kind == Tok::String ? '\1' : '\2';
    last = t.end;
    vals.emplace_back(t.value);
  }
  key.append(text, last, std::string::npos);
}

bool HasMarkBytes(const std::string& text) {
  for (char ch : text) {
    if (static_cast<unsigned char>(ch) < 3) return true;  // could fake a shape
  }
  return false;
}

}  // namespace

bool CachedWriteInfo(Connection& c, const std::string& text, WriteInfo& out) {
  if (c.stale || HasMarkBytes(text)) return false;
  std::vector<Token> toks = Lex(text);
  if (toks[0].kind == Tok::End || IsOp(toks[0], ";")) return false;
  std::string key;
  std::vector<std::string_view> vals;
  ShapeOf(text, toks, key, vals);
  std::shared_ptr<CachedStatement> entry = c.cache.Find(key, vals);
  if (entry == nullptr) return false;
  DateTime now;
  if (!translator::LocalNow(now)) now = DateTime();
  std::string nowText = entry->nowUsed ? NowText(now) : std::string();
  auto fill = [&](const std::string& marked) { return WithLiterals(marked, vals, entry->literals, nowText); };
  out.schema = entry->write.schema;
  out.table = entry->write.table;
  out.rows.clear();
  for (const auto& row : entry->write.rows) {
    std::vector<std::string> r;
    r.reserve(row.size());
    for (const std::string& e : row) r.push_back(fill(e));
    out.rows.push_back(std::move(r));
  }
  out.set.clear();
  for (const std::string& e : entry->write.set) out.set.push_back(fill(e));
  out.where = fill(entry->write.where);
  if (CheckEnabled()) {
    std::size_t pos = 0;
    Statement plain;
    Error err;
    if (!TranslateStatement(c, text, toks, pos, plain, err, nullptr, &now) || plain.write.rows != out.rows ||
        plain.write.set != out.set || plain.write.where != out.where || plain.write.schema != out.schema ||
        plain.write.table != out.table) {
      CheckFailed(text, "cached write information", "differs");
    }
  }
  return true;
}

void Prepared::Release() {
  if (cached != nullptr) {
    sqlite3_reset(stmt);
    cached->inUse.store(false);
    cached.reset();
  } else if (stmt != nullptr) {
    sqlite3_finalize(stmt);
  }
  stmt = nullptr;
  kind = Kind::Other;
}

void ClearStatementCache(sqlite3* db) {
  Connection* c = FindConnection(db);
  if (c == nullptr) return;
  std::lock_guard<std::mutex> lock(c->mu);
  c->cache.Clear();
}

bool Prepare(sqlite3* db, const std::string& text, Prepared& out, Error& err) {
  out.Release();
  Connection* c = Attach(db, err);
  if (c == nullptr) return false;
  if (HasMarkBytes(text)) return PreparePlain(db, text, out, err);
  std::vector<Token> toks = Lex(text);
  std::size_t pos = 0;
  while (IsOp(toks[pos], ";")) ++pos;
  if (toks[pos].kind == Tok::End) return true;  // blanks and comments only
  if (IsWord(toks[pos], "CREATE") || IsWord(toks[pos], "DROP") || IsWord(toks[pos], "ALTER")) {
    return PreparePlain(db, text, out, err);
  }

  std::string key;
  std::vector<std::string_view> vals;
  ShapeOf(text, toks, key, vals);

  DateTime now;
  if (!translator::LocalNow(now)) now = DateTime();
  std::string nowText;
  std::shared_ptr<CachedStatement> entry;
  // Without an entry: the SQLite text to prepare here, outside the lock
  // (mapping a failure may take the lock itself); `plain`: go through
  // Translate instead.
  std::string sql;
  bool plain = false;
  {
    std::lock_guard<std::mutex> lock(c->mu);
    // A catalog about to be read again may differ from the one the cached
    // translations were made with.
    if (c->stale) c->cache.Clear();
    entry = c->cache.Find(key, vals);
    if (entry != nullptr) {
      if (entry->nowUsed) nowText = NowText(now);
      if (CheckEnabled()) Check(*c, text, toks, pos, now, WithLiterals(entry->marked, vals, entry->literals, nowText));
    } else {
      LiteralUse use;
      Statement st;
      std::size_t end = pos;
      if (!TranslateStatement(*c, text, toks, end, st, err, &use, &now)) return false;
      while (IsOp(toks[end], ";")) ++end;
      if (toks[end].kind != Tok::End) {
        // One statement per execution: a batch of several is not supported.
        const Token& t = toks[end];
        bool quoted =
            t.kind == Tok::String || t.kind == Tok::NString || t.kind == Tok::QuotedIdent || t.kind == Tok::Ident;
        err = SyntaxError(quoted ? t.value : text.substr(t.begin, t.end - t.begin));
        return false;
      }
      if (use.nowUsed) nowText = NowText(now);
      if (CheckEnabled()) Check(*c, text, toks, pos, now, WithLiterals(st.sql, vals, use.nowParam, nowText));
      out.kind = st.kind;
      if (!st.pre.empty()) {
        // Statements to run first (CREATE SCHEMA, which never comes here):
        // as Translate runs them.
        plain = true;
      } else if (use.uncacheable || st.ddl || st.sql.empty() || !IsCachedKind(st.kind)) {
        sql = WithLiterals(st.sql, vals, use.nowParam, nowText);
      } else {
        auto made = std::make_shared<CachedStatement>();
        made->kind = st.kind;
        made->marked = std::move(st.sql);
        made->sql = WithParameters(made->marked);
        made->literals = use.nowParam;
        made->nowUsed = use.nowUsed;
        made->mustEqual.resize(vals.size());
        made->values.resize(vals.size());
        for (std::size_t k = 0; k < vals.size(); ++k) {
          made->mustEqual[k] = !use.param[k] || use.pinned[k];
          if (made->mustEqual[k]) made->values[k] = std::string(vals[k]);
        }
        made->checks = std::move(use.checks);
        made->write = std::move(st.write);
        int rc = sqlite3_prepare_v2(db, made->sql.data(), static_cast<int>(made->sql.size()), &made->stmt, nullptr);
        if (rc == SQLITE_OK && made->stmt != nullptr) {
          c->cache.Add(key, made);
          entry = std::move(made);
        } else {
          // Met as the text's own translation meets it.
          sql = WithLiterals(made->marked, vals, made->literals, nowText);
        }
      }
    }
  }
  if (plain) {
    out.Release();
    return PreparePlain(db, text, out, err);
  }
  if (entry == nullptr) {
    if (sql.empty()) return true;
    return PrepareSql(db, sql, text, out.stmt, err);
  }
  out.kind = entry->kind;
  if (!entry->inUse.exchange(true)) {
    out.stmt = entry->stmt;
    out.cached = entry;
  } else if (!PrepareSql(db, entry->sql, text, out.stmt, err)) {
    // Another execution still reads the cached statement (an open result
    // set): this one gets its own copy.
    return false;
  }
  if (!Bind(out.stmt, vals, entry->nowUsed, nowText)) {
    err = MakeErrorFromSqlite(db);
    out.Release();
    return false;
  }
  return true;
}

}  // namespace tsql
