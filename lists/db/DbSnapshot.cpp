#include "lists/db/DbSnapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

namespace quor::lists {
namespace {

constexpr const char* kFormat = "quorpolicy-db-snapshot";

[[noreturn]] void fail(const std::string& path, const std::string& why) {
  throw std::runtime_error("snapshot " + path + ": " + why);
}

void writeAll(int fd, const std::string& text, const std::string& path) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(path, std::string("cannot write: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

void writeDbSnapshot(const DbPolicyData& data, const std::string& path) {
  nlohmann::json doc = {{"format", kFormat}, {"policyVersion", data.version}};
  nlohmann::json& entities = doc["entities"] = nlohmann::json::array();
  for (const DbEntity& e : data.entities) entities.push_back({e.id, e.name, e.type});
  nlohmann::json& bindings = doc["bindings"] = nlohmann::json::array();
  for (const DbBinding& b : data.bindings) {
    bindings.push_back({b.entity, b.group, b.groupName, b.membership, b.position});
  }
  nlohmann::json& members = doc["members"] = nlohmann::json::object();
  for (const auto& [group, patterns] : data.members) members[std::to_string(group)] = patterns;
  const std::string text = doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);

  const std::string partial = path + ".partial";
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fail(partial, std::string("cannot create: ") + std::strerror(errno));
  try {
    writeAll(fd, text, partial);
    if (::fsync(fd) != 0) fail(partial, std::string("cannot sync: ") + std::strerror(errno));
  } catch (...) {
    ::close(fd);
    ::unlink(partial.c_str());
    throw;
  }
  ::close(fd);
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(partial.c_str());
    fail(path, std::string("cannot replace: ") + std::strerror(error));
  }
}

DbPolicyData readDbSnapshot(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) fail(path, "cannot be read");
  // Read whole at its size: a snapshot of a large database is tens of
  // megabytes, which a growing buffer would copy several times.
  const std::streamoff size = in.tellg();
  if (size < 0) fail(path, "cannot be read");
  std::string text(static_cast<std::size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(text.data(), size)) fail(path, "cannot be read");
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  std::string().swap(text);
  if (doc.is_discarded()) fail(path, "not a whole JSON document");
  if (!doc.is_object() || doc.value("format", "") != kFormat) fail(path, "not a snapshot");
  DbPolicyData data;
  try {
    data.version = doc.at("policyVersion").get<long long>();
    for (const auto& e : doc.at("entities")) {
      data.entities.push_back(
          {e.at(0).get<unsigned>(), e.at(1).get<std::string>(), e.at(2).get<unsigned>()});
    }
    for (const auto& b : doc.at("bindings")) {
      data.bindings.push_back({b.at(0).get<unsigned>(), b.at(1).get<unsigned>(),
                               b.at(2).get<std::string>(), b.at(3).get<std::string>(),
                               b.at(4).get<int>()});
    }
    for (const auto& [group, patterns] : doc.at("members").items()) {
      data.members[static_cast<unsigned>(std::stoul(group))] =
          patterns.get<std::vector<std::string>>();
    }
  } catch (const std::exception&) {
    fail(path, "a part is missing or malformed");
  }
  return data;
}

}  // namespace quor::lists
