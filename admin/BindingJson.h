#pragma once

// The JSON form of a binding, the same for the console's API and
// `quorpolicy admin bindings --json`: found by nlohmann::json through
// argument-dependent lookup, so `nlohmann::json out = bindings;` works.

#include <nlohmann/json.hpp>

#include "admin/Administration.h"

namespace quor::admin {

inline void to_json(nlohmann::json& out, const Binding& b) {
  out = {{"entity", b.entity},       {"entityName", b.entityName}, {"group", b.group},
         {"groupName", b.groupName}, {"membership", b.membership}, {"position", b.position},
         {"decides", b.decides()}};
}

}  // namespace quor::admin
