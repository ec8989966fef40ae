// The hash-table and linear-scan baselines of the address-matching benchmark.
#include "bench/addrmatch/Baselines.h"

#include <algorithm>

namespace quor::bench {
namespace {

// Lower-cases (ASCII) into `buffer` when it fits, else into `spill`.
std::string_view lowered(std::string_view address, char (&buffer)[256], std::string& spill) {
  char* out = buffer;
  if (address.size() > sizeof buffer) {
    spill.resize(address.size());
    out = spill.data();
  }
  for (std::size_t i = 0; i < address.size(); ++i) {
    const char c = address[i];
    out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return {out, address.size()};
}

}  // namespace

void Decision::add(std::uint32_t membership, std::uint32_t weight) {
  switch (membership) {
    case 1: _bestWhite = std::max(_bestWhite, weight); break;
    case 2: _bestBlack = std::max(_bestBlack, weight); break;
    case 4: _maxOverrideableBlack = std::max(_maxOverrideableBlack, weight); break;
    case 8: _maxOverrideableWhite = std::max(_maxOverrideableWhite, weight); break;
    default: break;
  }
}

std::uint32_t Decision::result() const {
  if (_bestBlack > 0) {
    std::uint32_t r = _bestWhite == _bestBlack ? 9 : (_bestBlack > _bestWhite ? 2 : 1);
    if (_bestWhite > 0) r |= 128;
    return r;
  }
  if (_bestWhite > 0) return 1;
  if (_maxOverrideableBlack == 0 && _maxOverrideableWhite == 0) return 0;
  if (_maxOverrideableWhite == _maxOverrideableBlack) return 9;
  return _maxOverrideableBlack > _maxOverrideableWhite ? 2 : 1;
}

HashTables::HashTables(const Lists& lists) {
  for (const auto& list : lists) {
    Tables& t = _lists.emplace_back();
    for (const BenchEntry& e : list) {
      const Hit hit{e.membership, e.weight};
      switch (e.kind) {
        case PatternKind::Exact: t.exact.emplace(e.pattern, hit); break;
        case PatternKind::AnyUser: t.byDomain.emplace(e.domain, hit); break;
        case PatternKind::AnySubdomain: t.byParent.emplace(e.domain, hit); break;
        case PatternKind::AnyDomain: t.byUser.emplace(e.user, hit); break;
      }
    }
  }
}

std::uint32_t HashTables::decide(std::string_view address) const {
  char buffer[256];
  std::string spill;
  const std::string_view a = lowered(address, buffer, spill);
  const std::size_t at = a.find('@');
  // Without an at-sign the tree sees no domain label; only user@* would
  // cover such text, and the workload makes none.
  const std::string_view user = a.substr(0, at);
  const std::string_view domain = at == std::string_view::npos ? std::string_view() : a.substr(at + 1);

  Decision d;
  auto consult = [&d](const Map& map, std::string_view key) {
    if (map.empty()) return;
    if (auto it = map.find(key); it != map.end()) d.add(it->second.membership, it->second.weight);
  };
  for (const Tables& t : _lists) {
    if (at != std::string_view::npos) {
      consult(t.exact, a);
      consult(t.byDomain, domain);
      for (std::size_t dot = domain.find('.'); dot != std::string_view::npos; dot = domain.find('.', dot + 1)) {
        consult(t.byParent, domain.substr(dot + 1));
      }
      consult(t.byUser, user);
    }
    if (d.settled()) break;
  }
  return d.result();
}

GlobScan::GlobScan(const Lists& lists) {
  for (const auto& list : lists) {
    auto& globs = _lists.emplace_back();
    globs.reserve(list.size());
    for (const BenchEntry& e : list) globs.push_back({e.pattern, e.membership, e.weight});
  }
}

bool GlobScan::globMatch(std::string_view pattern, std::string_view text) {
  std::size_t p = 0;
  std::size_t t = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::uint32_t GlobScan::decide(std::string_view address) const {
  char buffer[256];
  std::string spill;
  const std::string_view a = lowered(address, buffer, spill);
  Decision d;
  for (const auto& globs : _lists) {
    for (const Glob& g : globs) {
      if (globMatch(g.pattern, a)) d.add(g.membership, g.weight);
    }
    if (d.settled()) break;
  }
  return d.result();
}

}  // namespace quor::bench
