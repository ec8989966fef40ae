// Minimal concrete actions and filters for the tests of the static list
// operations: each reports a fixed kind and counts how often it was asked.
#ifndef QUORPOLICY_TESTS_VOCAB_FAKEACTION_H_
#define QUORPOLICY_TESTS_VOCAB_FAKEACTION_H_

#include <memory>
#include <string>
#include <vector>

#include "QuorAction.h"
#include "QuorFilter.h"

namespace quor::test {

class FakeAction : public QuorAction {
 public:
  explicit FakeAction(int type, bool needsOriginal = false)
      : _type(static_cast<ActionType>(type)), _needsOriginal(needsOriginal) {}
  bool load(const char*) override { return true; }
  bool save(std::string&) const override { return true; }
  ActionType getActionType() override { return ++typeAsked, _type; }
  bool isOriginalMsgRequired() override { return ++originalAsked, _needsOriginal; }
  bool perform(void*) override { return true; }
  int typeAsked = 0;
  int originalAsked = 0;

 private:
  ActionType _type;
  bool _needsOriginal;
};

class FakeFilter : public QuorFilter {
 public:
  explicit FakeFilter(int type) : _type(static_cast<FilterType>(type)) {}
  bool load(const char*) override { return true; }
  bool save(std::string&) const override { return true; }
  FilterType getFilterType() override { return _type; }
  bool check(void*) override { return true; }

 private:
  FilterType _type;
};

// Owns the fakes and hands out the raw-pointer list the interface takes.
template <class Fake>
struct FakeList {
  std::vector<std::unique_ptr<Fake>> owned;
  template <class... Args>
  void add(Args... args) {
    owned.push_back(std::make_unique<Fake>(args...));
  }
  template <class Base>
  std::vector<Base*> pointers() const {
    std::vector<Base*> out;
    for (const auto& f : owned) out.push_back(f.get());
    return out;
  }
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_VOCAB_FAKEACTION_H_
