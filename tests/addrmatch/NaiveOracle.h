// A naive model of address lists, written without the matcher's code: every
// pattern is kept as a record, and coverage, leaf order and the black/white
// decision are worked out by brute force from the rules. Used by the tests
// and the fuzz target to check the tree and the matcher.
#ifndef QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_
#define QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quor::test {

struct NaiveAddress {
  std::string user;
  std::vector<std::string> labels;  // left to right
};

inline std::string lowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The grammar: first at-sign splits, dots split labels, "*" is "*@*", a text
// without at-sign reads as text@.text.
inline NaiveAddress naiveParse(std::string text) {
  text = lowerAscii(std::move(text));
  if (text == "*") text = "*@*";
  NaiveAddress a;
  const size_t at = text.find('@');
  if (at == std::string::npos) {
    a.user = text;
    a.labels = {"", text};
    return a;
  }
  a.user = text.substr(0, at);
  std::string rest = text.substr(at + 1);
  size_t start = 0;
  for (;;) {
    const size_t dot = rest.find('.', start);
    if (dot == std::string::npos) {
      a.labels.push_back(rest.substr(start));
      break;
    }
    a.labels.push_back(rest.substr(start, dot - start));
    start = dot + 1;
  }
  return a;
}

inline bool naiveStateAllowed(std::uint32_t s) {
  static const std::uint32_t allowed[] = {0, 1, 2, 4, 8, 16, 32, 17, 33, 18, 34, 20, 40, 48};
  for (std::uint32_t v : allowed) {
    if (v == s) return true;
  }
  return false;
}

inline std::uint32_t naiveWeight(const std::string& pattern) {
  const NaiveAddress p = naiveParse(pattern);
  const bool wildUser = p.user == "*";
  bool wildDomain = false;
  std::uint32_t literal = 0;
  for (const auto& l : p.labels) {
    if (l == "*") {
      wildDomain = true;
    } else {
      ++literal;
    }
  }
  if (!wildDomain) return (wildUser ? 4001u : 5001u) + literal;
  if (literal == 0) return wildUser ? 1u : 1001u;
  return (wildUser ? 2001u : 3001u) + literal;
}

struct NaiveEntry {
  std::string fullAddress;  // lower-cased text of the first pattern
  std::uint32_t weight = 0;
  std::uint32_t membership = 0;
};

// One list tree.
class NaiveTree {
 public:
  // Where a pattern is stored: labels right to left up to and including the
  // first "*", and the user part.
  using Key = std::pair<std::vector<std::string>, std::string>;

  static Key keyOf(const std::string& pattern) {
    const NaiveAddress p = naiveParse(pattern);
    std::vector<std::string> path;
    for (auto it = p.labels.rbegin(); it != p.labels.rend(); ++it) {
      path.push_back(*it);
      if (*it == "*") break;
    }
    return {path, p.user};
  }

  bool add(const std::string& pattern, std::uint32_t membership) {
    const Key key = keyOf(pattern);
    auto it = _entries.find(key);
    if (it == _entries.end()) {
      NaiveEntry e;
      e.fullAddress = lowerAscii(pattern);
      e.weight = naiveWeight(pattern);
      it = _entries.emplace(key, e).first;
    }
    const std::uint32_t merged = it->second.membership | membership;
    if (!naiveStateAllowed(merged)) return false;
    it->second.membership = merged;
    return true;
  }

  // Entries covering `address` in walk order: the entries of the whole
  // domain (exact user, then "*") first, then for ever shorter domain
  // suffixes the entries that continue it with a "*" label.
  std::vector<const NaiveEntry*> matches(const std::string& address) const {
    const NaiveAddress a = naiveParse(address);
    std::vector<std::string> reversed(a.labels.rbegin(), a.labels.rend());
    std::vector<const NaiveEntry*> out;
    auto look = [&](const std::vector<std::string>& path, const std::string& user) {
      auto it = _entries.find(Key{path, user});
      if (it != _entries.end()) out.push_back(&it->second);
    };
    // A "*" in the address is an ordinary label text, but no exact node has
    // that label: the walk cannot pass it.
    size_t reachable = 0;
    while (reachable < reversed.size() && reversed[reachable] != "*") ++reachable;
    for (size_t d = reachable + 1; d-- > 0;) {
      std::vector<std::string> path(reversed.begin(),
                                    reversed.begin() + static_cast<std::ptrdiff_t>(d));
      if (d == reversed.size()) {
        if (a.user != "*") look(path, a.user);
        look(path, "*");
      } else {
        path.push_back("*");
        if (a.user != "*") look(path, a.user);
        look(path, "*");
      }
    }
    return out;
  }

 private:
  std::map<Key, NaiveEntry> _entries;
};

struct NaiveDecision {
  std::uint32_t result = 0;
  unsigned long tree = 0;
  std::string pattern;  // empty with hasPattern false for NotListed
  bool hasPattern = false;
  std::uint32_t membership = 0;
};

inline NaiveDecision naiveDecide(const std::vector<const NaiveTree*>& trees,
                                 const std::string& address) {
  struct Cand {
    const NaiveEntry* e;
    unsigned long tree;
  };
  Cand white{nullptr, 0};
  Cand black{nullptr, 0};
  std::vector<Cand> ob;
  std::vector<Cand> ow;
  for (unsigned long t = 0; t < trees.size(); ++t) {
    for (const NaiveEntry* e : trees[t]->matches(address)) {
      switch (e->membership) {
        case 1:
          if (white.e == nullptr || e->weight > white.e->weight) white = {e, t};
          break;
        case 2:
          if (black.e == nullptr || e->weight > black.e->weight) black = {e, t};
          break;
        case 4:
          ob.push_back({e, t});
          break;
        case 8:
          ow.push_back({e, t});
          break;
        case 16:
          std::erase_if(ow, [e](const Cand& c) { return c.e->fullAddress == e->fullAddress; });
          break;
        case 32:
          std::erase_if(ob, [e](const Cand& c) { return c.e->fullAddress == e->fullAddress; });
          break;
        default:
          break;
      }
    }
    if (white.e != nullptr || black.e != nullptr) break;
  }
  auto heaviest = [](const std::vector<Cand>& v) {
    const Cand* best = nullptr;
    for (const auto& c : v) {
      if (best == nullptr || c.e->weight > best->e->weight) best = &c;
    }
    return best;
  };
  // The heavier side wins; equal weights give the white one with result 9.
  NaiveDecision d;
  auto settle = [&d](const Cand* b, const Cand* w) {
    const std::uint32_t bw = b != nullptr ? b->e->weight : 0;
    const std::uint32_t ww = w != nullptr ? w->e->weight : 0;
    const Cand* c = bw > ww ? b : w;
    d.result = bw == ww ? 9 : (bw > ww ? 2 : 1);
    d.tree = c->tree;
    d.pattern = c->e->fullAddress;
    d.hasPattern = true;
    d.membership = c->e->membership;
  };
  if (black.e != nullptr || white.e != nullptr) {
    settle(black.e != nullptr ? &black : nullptr, white.e != nullptr ? &white : nullptr);
    if (black.e != nullptr && white.e != nullptr) d.result += 128;
  } else if (!ob.empty() || !ow.empty()) {
    settle(heaviest(ob), heaviest(ow));
  }
  return d;
}

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_
