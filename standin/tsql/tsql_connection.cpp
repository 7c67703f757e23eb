// The registry of the translator's connections, by SQLite handle.
#include "tsql_connection.h"

#include <unordered_map>

#include "tsql.h"

namespace tsql {

namespace {

std::mutex g_registryMu;
std::unordered_map<sqlite3*, Connection*>& Registry() {
  static auto* registry = new std::unordered_map<sqlite3*, Connection*>();
  return *registry;
}

}  // namespace

Connection* FindConnection(sqlite3* db) {
  std::lock_guard<std::mutex> lock(g_registryMu);
  auto it = Registry().find(db);
  return it == Registry().end() ? nullptr : it->second;
}

void RegisterConnection(Connection* c) {
  std::lock_guard<std::mutex> lock(g_registryMu);
  Registry()[c->db] = c;
}

void UnregisterConnection(Connection* c) {
  std::lock_guard<std::mutex> lock(g_registryMu);
  auto it = Registry().find(c->db);
  if (it != Registry().end() && it->second == c) Registry().erase(it);
}

void MarkStale(sqlite3* db) {
  Connection* c = FindConnection(db);
  if (c == nullptr) return;
  std::lock_guard<std::mutex> lock(c->mu);
  c->stale = true;
}

Connection* Attach(sqlite3* db, Error& err) {
  Connection* c = FindConnection(db);
  if (c != nullptr) return c;
  if (!Setup(db, err)) return nullptr;
  return FindConnection(db);
}

}  // namespace tsql
