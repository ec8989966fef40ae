#include "NamedObjMgrForPolicy.h"

#include <cstdio>

namespace {

// Every group of numbers is formatted here. Three signed 32-bit numbers with
// their terminators need at most 3 * 12 = 36 characters, so no group is ever
// cut, whatever the values.
constexpr size_t kNumberBufferSize = 48;

}  // namespace

void NamedObjMgrForPolicy::insert(unsigned int id,
                                  const MasterNamedObjMgr::_rawNamedObjectData* data) {
  _objects[static_cast<std::uint32_t>(id)] = data;
}

bool NamedObjMgrForPolicy::serialize(std::string& out) {
  out.clear();
  out.reserve(2048);
  char buffer[kNumberBufferSize] = {};
  // Numbers are written as "%d" prints them, that is signed, identifiers and
  // lengths included.
  std::snprintf(buffer, sizeof buffer, "%d;", static_cast<int>(_objects.size()));
  out.append(buffer);
  std::snprintf(buffer, sizeof buffer, "%d;", static_cast<int>(tag));
  out.append(buffer);
  for (const auto& [id, record] : _objects) {
    if (record == nullptr) continue;
    std::snprintf(buffer, sizeof buffer, "%d;%d;%d;", static_cast<int>(id),
                  static_cast<int>(record->kind), static_cast<int>(record->text2.size()));
    out.append(buffer);
    out.append(record->text2);
    std::snprintf(buffer, sizeof buffer, ";%d;", static_cast<int>(record->text1.size()));
    out.append(buffer);
    out.append(record->text1);
    out.push_back(';');
  }
  return true;
}

bool NamedObjMgrForPolicy::CheckDelimiter(char c) { return c == ';'; }
