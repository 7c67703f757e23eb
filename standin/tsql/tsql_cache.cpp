// The statement cache of one connection: finding a cached translation by
// the shape of a statement and the values of its literals.
#include "tsql_cache.h"

#include "tsql_values.h"

namespace tsql {

bool CachedStatement::Matches(const std::vector<std::string_view>& vals) const {
  if (vals.size() != static_cast<std::size_t>(literals)) return false;
  for (std::size_t k = 0; k < vals.size(); ++k) {
    if (mustEqual[k] && vals[k] != values[k]) return false;
  }
  for (const LiteralCheck& c : checks) {
    std::string_view v = vals[static_cast<std::size_t>(c.lit)];
    bool r = false;
    switch (c.kind) {
      case LiteralCheck::Fits: r = v.size() <= static_cast<std::size_t>(c.n); break;
      case LiteralCheck::Equals: r = CompareText(v, c.other) == 0; break;
      case LiteralCheck::Trimmed: r = RTrimText(v).size() == v.size(); break;
    }
    if (r != c.result) return false;
  }
  return true;
}

std::shared_ptr<CachedStatement> StatementCache::Find(const std::string& key,
                                                      const std::vector<std::string_view>& vals) const {
  auto it = shapes_.find(key);
  if (it == shapes_.end()) return nullptr;
  for (const auto& e : it->second) {
    if (e->Matches(vals)) return e;
  }
  return nullptr;
}

void StatementCache::Add(const std::string& key, std::shared_ptr<CachedStatement> entry) {
  if (count_ >= kMaxEntries) Clear();
  auto& variants = shapes_[key];
  if (variants.size() >= kVariantsPerShape) {
    variants.erase(variants.begin());
    --count_;
  }
  variants.push_back(std::move(entry));
  ++count_;
}

}  // namespace tsql
