// Fuzzes the configuration-file reader and writer.
//
// Invariants checked on every input:
//  1. the reader agrees with a naive line-by-line reader written here (which
//     takes every section, key and value from the input's own lines);
//  2. setting one key changes that key only: re-reading the edited text
//     gives the old values plus the new one;
//  3. a file written from scratch with every storable value reads back equal.
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "quorcommon/detail/IniDocument.h"

namespace {

using quor::common::detail::IniDocument;
using quor::common::detail::IniSections;

void check(bool condition) {
  if (!condition) std::abort();
}

std::string trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

// A naive reader: the same syntax, written without the production code.
IniSections naiveRead(const std::string& text) {
  IniSections out;
  bool haveSection = false;
  std::string section;
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;  // a UTF-8 byte-order mark
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (end != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    line = trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string::npos) continue;
      section = trim(line.substr(1, close - 1));
      haveSection = true;
      out[section];
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || !haveSection) continue;
    std::string key = trim(line.substr(0, eq));
    if (key.empty()) continue;
    out[section][key] = trim(line.substr(eq + 1));
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  IniDocument doc(input);
  const IniSections& read = doc.sections();

  check(naiveRead(input) == read);
  check(doc.text() == input);

  // Edit one key, chosen from the input's own bytes when they are storable.
  std::string section = "fuzz";
  std::string key = "key";
  std::string value(input.data(), input.size() < 16 ? input.size() : 16);
  if (!read.empty() && !read.begin()->second.empty()) {
    section = read.begin()->first;
    key = read.begin()->second.begin()->first;
  }
  if (!IniDocument::isWritable(section, key, value)) value.assign(1, 'v');
  if (IniDocument::isWritable(section, key, value)) {
    IniSections want = read;
    want[section][key] = value;
    IniDocument edited(input);
    edited.set(section, key, value);
    check(IniDocument(edited.text()).sections() == want);
  }

  // Write every storable value into an empty file and read it back.
  IniDocument fresh;
  IniSections stored;
  for (const auto& [s, items] : read) {
    for (const auto& [k, v] : items) {
      if (!IniDocument::isWritable(s, k, v)) continue;
      fresh.set(s, k, v);
      stored[s][k] = v;
    }
  }
  check(IniDocument(fresh.text()).sections() == stored);
  return 0;
}
