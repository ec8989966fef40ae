// Fuzz target for QuorAction::CreateActionTokenString.
//
// The input is the bitmap text (up to its first NUL). When the first byte is
// '#', the next bytes instead give a 14-character bitmap, one position per
// byte, '1' for an odd byte and '0' for an even one, so that most inputs are
// of the accepted length.
//
// The result is checked against a separately written oracle: a bitmap of
// another length gives false, an empty text and one error line; otherwise
// the names of the marked positions, in display order, joined by "; ", with
// each name taken from the same bundle and replaced by its key (and one
// error line) when the bundle lacks it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "PolicyLog.h"
#include "QuorAction.h"
#include "ZoResbundle.h"

namespace {

int gErrors = 0;

void fail(const char* what, const std::string& bitmap, const std::string& got) {
  std::fprintf(stderr, "actiontokens invariant broken: %s (bitmap \"%s\", got \"%s\")\n", what,
               bitmap.c_str(), got.c_str());
  std::abort();
}

// Display order as the console shows it: position, then resource key.
const char* const kOracle[][2] = {
    {"0", "Delete"},        {"1", "Quarantine"},       {"3", "Archive"},
    {"5", "Readdress"},     {"6", "Stamped"},          {"7", "DeleteAttachment"},
    {"8", "SubjectTagging"}, {"9", "Postpone"},        {"10", "Notify"},
    {"11", "VirusClean"},   {"12", "Bcc"},             {"4", "Handoff"},
    {"13", "InsertXHeaderTag"},
};

std::string oracle(const std::string& bitmap, int& misses) {
  QUOR::ZoResbundle bundle(QUOR::ZoResbundle::GetResourceFileName(), "UiDisplay", nullptr);
  std::string out;
  for (const auto& row : kOracle) {
    if (bitmap[static_cast<size_t>(std::atoi(row[0]))] != '1') continue;
    std::string name;
    if (!bundle.getString(row[1], name)) {
      name = row[1];
      ++misses;
    }
    if (!out.empty()) out += "; ";
    out += name;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  static const bool sinkSet = [] {
    PolicyLog::setSink([](int level, const std::string&) {
      if (level == PolicyLog::Error) ++gErrors;
    });
    return true;
  }();
  (void)sinkSet;

  std::string bitmap;
  if (size > 0 && data[0] == '#') {
    for (size_t i = 1; i < size && bitmap.size() < 14; ++i) bitmap += (data[i] & 1) ? '1' : '0';
  } else {
    bitmap.assign(reinterpret_cast<const char*>(data), size);
    bitmap.resize(std::strlen(bitmap.c_str()));
  }

  gErrors = 0;
  std::string got = "stale";
  const bool ok = QuorAction::CreateActionTokenString(bitmap.c_str(), got);
  const int errors = gErrors;
  if (bitmap.size() != 14) {
    if (ok || !got.empty() || errors != 1) fail("invalid bitmap accepted", bitmap, got);
    return 0;
  }
  int misses = 0;
  const std::string want = oracle(bitmap, misses);
  if (!ok) fail("valid bitmap refused", bitmap, got);
  if (got != want) fail("list differs from the oracle", bitmap, got);
  if (errors != misses) fail("one error line per missing name", bitmap, got);
  return 0;
}
