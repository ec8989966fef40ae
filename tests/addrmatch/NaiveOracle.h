// A naive model of address lists, written without the matcher's code: every
// pattern is kept as a record, and coverage, leaf order and the black/white
// decision are worked out by brute force from the rules. Used by the tests
// and the fuzz target to check the tree and the matcher.
#ifndef QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_
#define QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quor::test {

inline std::string lowerAscii(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

// The grammar: first at-sign splits, dots split labels, "*" is "*@*", a text
// without at-sign reads as text@.text. Gives the user part and the labels
// right to left.
inline std::pair<std::string, std::vector<std::string>> naiveParse(std::string text) {
  text = lowerAscii(std::move(text));
  if (text == "*") text = "*@*";
  const size_t at = text.find('@');
  if (at == std::string::npos) return {text, {text, ""}};
  std::vector<std::string> labels;
  for (size_t start = at + 1;;) {
    const size_t dot = text.find('.', start);
    labels.insert(labels.begin(), text.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return {text.substr(0, at), labels};
}

inline bool naiveStateAllowed(std::uint32_t s) {
  static const std::uint32_t allowed[] = {0, 1, 2, 4, 8, 16, 32, 17, 33, 18, 34, 20, 40, 48};
  return std::find(std::begin(allowed), std::end(allowed), s) != std::end(allowed);
}

struct NaiveEntry {
  std::string fullAddress;  // lower-cased text of the first pattern
  std::uint32_t weight = 0;
  std::uint32_t membership = 0;
};

// One list tree: entries keyed by the labels right to left up to and
// including the first "*", and the user part.
class NaiveTree {
 public:
  using Key = std::pair<std::vector<std::string>, std::string>;

  bool add(const std::string& pattern, std::uint32_t membership) {
    const auto [user, labels] = naiveParse(pattern);
    Key key{{}, user};
    for (const auto& l : labels) {
      key.first.push_back(l);
      if (l == "*") break;
    }
    const bool wildUser = user == "*";
    const auto literal = static_cast<std::uint32_t>(
        std::count_if(labels.begin(), labels.end(), [](const std::string& l) { return l != "*"; }));
    std::uint32_t weight = (wildUser ? 4001u : 5001u) + literal;
    if (literal < labels.size()) weight = literal == 0 ? (wildUser ? 1u : 1001u) : weight - 2000;
    auto it = _entries.try_emplace(key, NaiveEntry{lowerAscii(pattern), weight, 0}).first;
    const std::uint32_t merged = it->second.membership | membership;
    if (!naiveStateAllowed(merged)) return false;
    it->second.membership = merged;
    return true;
  }

  // Entries covering `address` in walk order: for ever shorter domain
  // suffixes (the whole domain first, exactly; the others continued by a
  // "*" label) the exact user's entry, then the "*" user's. A "*" label of
  // the address is an ordinary text that no exact node has: the walk stops.
  std::vector<const NaiveEntry*> matches(const std::string& address) const {
    const auto [user, labels] = naiveParse(address);
    const size_t reachable =
        static_cast<size_t>(std::find(labels.begin(), labels.end(), "*") - labels.begin());
    std::vector<const NaiveEntry*> out;
    for (size_t d = reachable + 1; d-- > 0;) {
      std::vector<std::string> path(labels.begin(),
                                    labels.begin() + static_cast<std::ptrdiff_t>(d));
      if (d != labels.size()) path.push_back("*");
      for (int wild = user == "*"; wild < 2; ++wild) {
        auto it = _entries.find(Key{path, wild ? "*" : user});
        if (it != _entries.end()) out.push_back(&it->second);
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

// The heaviest non-overrideable white and black (the first of equal weight)
// in the first tree that has one decide; else the heaviest overrideable
// candidates left after the subtractions. The heavier side wins; equal
// weights give the white one with result 9; 128 marks both lists matched.
inline NaiveDecision naiveDecide(const std::vector<const NaiveTree*>& trees,
                                 const std::string& address) {
  using Cand = std::pair<const NaiveEntry*, unsigned long>;
  auto heavier = [](const Cand& c, const Cand* best) {
    return best == nullptr || best->first == nullptr || c.first->weight > best->first->weight;
  };
  Cand white{nullptr, 0}, black{nullptr, 0};
  std::vector<Cand> ob, ow;
  for (unsigned long t = 0; t < trees.size() && !white.first && !black.first; ++t) {
    for (const NaiveEntry* e : trees[t]->matches(address)) {
      const Cand c{e, t};
      auto drop = [e](std::vector<Cand>& v) {
        std::erase_if(v, [e](const Cand& x) { return x.first->fullAddress == e->fullAddress; });
      };
      if (e->membership == 1 && heavier(c, &white)) white = c;
      if (e->membership == 2 && heavier(c, &black)) black = c;
      if (e->membership == 4) ob.push_back(c);
      if (e->membership == 8) ow.push_back(c);
      if (e->membership == 16) drop(ow);
      if (e->membership == 32) drop(ob);
    }
  }
  auto heaviest = [&heavier](const std::vector<Cand>& v) {
    const Cand* best = nullptr;
    for (const auto& c : v) best = heavier(c, best) ? &c : best;
    return best;
  };
  const bool nonOverrideable = white.first != nullptr || black.first != nullptr;
  const Cand* b = nonOverrideable ? (black.first ? &black : nullptr) : heaviest(ob);
  const Cand* w = nonOverrideable ? (white.first ? &white : nullptr) : heaviest(ow);
  NaiveDecision d;
  if (b == nullptr && w == nullptr) return d;
  const std::uint32_t bw = b != nullptr ? b->first->weight : 0;
  const std::uint32_t ww = w != nullptr ? w->first->weight : 0;
  const Cand* c = bw > ww ? b : w;
  d.result = (bw == ww ? 9 : (bw > ww ? 2 : 1)) +
             (b != nullptr && w != nullptr && nonOverrideable ? 128 : 0);
  d.tree = c->second;
  d.pattern = c->first->fullAddress;
  d.hasPattern = true;
  d.membership = c->first->membership;
  return d;
}

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_ADDRMATCH_NAIVEORACLE_H_
