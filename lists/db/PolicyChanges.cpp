#include "lists/db/PolicyChanges.h"

#include <cstdlib>

namespace quor::lists {

void PolicyChanges::add(const std::string& payload) {
  _any = true;
  const auto blank = payload.find(' ');
  const std::string table = payload.substr(0, blank);
  if (table == "entities" || table == "entity_list_bindings") {
    _structure = true;
    return;
  }
  if (table != "address_group_members" && table != "named_objects") {
    _everything = true;
    return;
  }
  // The group id: digits alone, and in range.
  const std::string id = blank == std::string::npos ? "" : payload.substr(blank + 1);
  char* end = nullptr;
  const unsigned long value = std::strtoul(id.c_str(), &end, 10);
  if (id.empty() || id[0] < '0' || id[0] > '9' || *end != '\0' || value > 0xffffffffUL) {
    _everything = true;
    return;
  }
  _groups.insert(static_cast<unsigned>(value));
}

}  // namespace quor::lists
