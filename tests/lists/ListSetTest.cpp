// Loading a generation of lists (why a load stops, as the kind of its error)
// and what an answer carries.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "lists/ListSet.h"
#include "lists/LoadError.h"
#include "support/ScratchDir.h"

namespace quor::lists {
namespace {

class ListSetLoad : public test::ScratchDirTest {};

TEST_F(ListSetLoad, Load_NamesTheKindOfEveryFailure) {
  const std::string four = file("four.list", "1 a@b\n1 c@d\n1 e@f\n1 g@h\n");
  const auto before = ListSet::load({four}, {});
  const std::atomic<bool> cancelled{true};
  struct Case {
    const char* name;
    std::string path;
    ListSet::Options options;
    LoadError::Kind want;
  };
  ListSet::Options lineEnd, shrink, cancel;
  lineEnd.requireLineEnd = true;
  shrink.shrinkFrom = before.get();
  cancel.cancel = &cancelled;
  const Case cases[] = {
      {"missing file", (_dir / "missing.list").string(), {}, LoadError::NotFound},
      {"malformed line", file("bad.list", "1 a@b\nbogus x@y\n"), {}, LoadError::Malformed},
      {"still being written", file("open.list", "1 a@b\n1 c@d"), lineEnd, LoadError::Refused},
      {"more than half lost", file("one.list", "1 a@b\n"), shrink, LoadError::Refused},
      {"cancelled", four, cancel, LoadError::Cancelled},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ListSet::load({c.path}, c.options);
      ADD_FAILURE() << "loaded";
    } catch (const LoadError& e) {
      EXPECT_EQ(c.want, e.kind()) << e.what();
    }
  }
}

// A refused entry and a file without entries are warnings; the load goes on.
TEST_F(ListSetLoad, Load_WarnsOfRefusedEntriesAndEmptyFiles) {
  std::vector<std::string> warnings;
  ListSet::Options options;
  options.warn = [&](const std::string& text) { warnings.push_back(text); };
  const std::string mixed = file("m.list", "nonoverrideable-white u@a.b\n2 U@A.B\n");
  const std::string empty = file("e.list", "# none\n");
  EXPECT_EQ(1u, ListSet::load({mixed, empty}, options)->entries());
  // Every file is read before any entry is added.
  EXPECT_EQ(
      (std::vector<std::string>{empty + ": no entries",
                                mixed + ":2: entry 'U@A.B' (nonoverrideable-black) "
                                        "refused: it conflicts with an earlier entry of the same "
                                        "pattern in this list"}),
      warnings);
}

// The line of the deciding entry comes with the first search; only the
// original text needs the second.
TEST_F(ListSetLoad, Answer_GivesTheLineWithoutDetails) {
  const auto set = ListSet::load({file("l.list", "# c\n1 a@b\n2 *@c.Z Cee\n")}, {});
  for (const bool details : {false, true}) {
    SCOPED_TRACE(details);
    const ListAnswer a = set->answer("x@c.z", details);
    EXPECT_EQ(3u, a.line);
    EXPECT_EQ(details ? "Cee" : "", a.original);
  }
}

}  // namespace
}  // namespace quor::lists
