#include "dataaccess/detail/ConnectString.h"

#include <cctype>
#include <fstream>

#include "port/Port.h"
#include "dataaccess/detail/TextUtil.h"

namespace quor::dataaccess::detail {
namespace {

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && quor::port::quorStrnicmp(a.data(), b.data(), a.size()) == 0;
}

struct Bootstrap {
  std::string driver, dsn, uid, pwd, database;
};

// DATABASE is the last field of the bootstrap form, so it runs to the end of
// the text; the other fields end at the next ';'. No field before it can hold
// a ';', so the first field that starts with DATABASE= is the database, even
// when its value holds ";DATABASE=" again.
Bootstrap parseBootstrap(std::string_view body) {
  Bootstrap b;
  std::string_view head = body;
  for (size_t keyStart = 0; keyStart < body.size();) {
    if (body.size() - keyStart >= 9 && equalsNoCase(body.substr(keyStart, 9), "DATABASE=")) {
      b.database = std::string(body.substr(keyStart + 9));
      head = body.substr(0, keyStart == 0 ? 0 : keyStart - 1);
      break;
    }
    const size_t semicolon = body.find(';', keyStart);
    if (semicolon == std::string_view::npos) break;
    keyStart = semicolon + 1;
  }
  size_t start = 0;
  while (start <= head.size()) {
    size_t end = head.find(';', start);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view field = head.substr(start, end - start);
    const size_t eq = field.find('=');
    if (eq != std::string_view::npos) {
      const std::string_view key = trim(field.substr(0, eq));
      const std::string value(field.substr(eq + 1));
      if (equalsNoCase(key, "DRIVER")) b.driver = value;
      else if (equalsNoCase(key, "DSN")) b.dsn = value;
      else if (equalsNoCase(key, "UID")) b.uid = value;
      else if (equalsNoCase(key, "PWD")) b.pwd = value;
    }
    start = end + 1;
  }
  return b;
}

void append(std::string& out, std::string_view key, std::string_view value) {
  out.append(key).append("=").append(quoteAttribute(value)).append(";");
}

}  // namespace

std::optional<OdbcAttributes> readDataSource(const std::string& iniPath, std::string_view dsn) {
  std::ifstream in(iniPath);
  if (!in) return std::nullopt;
  std::optional<OdbcAttributes> found;
  bool inSection = false;
  std::string line;
  while (std::getline(in, line)) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#') continue;
    if (t.front() == '[') {
      const size_t close = t.find(']');
      const std::string_view name = trim(t.substr(1, close == std::string_view::npos ? t.size() - 1 : close - 1));
      inSection = equalsNoCase(name, dsn);
      if (inSection && !found) found.emplace();
      continue;
    }
    if (!inSection) continue;
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos) continue;
    found->emplace_back(std::string(trim(t.substr(0, eq))), std::string(trim(t.substr(eq + 1))));
  }
  return found;
}

std::string quoteAttribute(std::string_view value) {
  const bool plain = value.find_first_of(";{}") == std::string_view::npos &&
                     (value.empty() || (!std::isspace(static_cast<unsigned char>(value.front())) &&
                                        !std::isspace(static_cast<unsigned char>(value.back()))));
  if (plain) return std::string(value);
  std::string out = "{";
  for (const char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

std::string buildConnectString(std::string_view connectString, const char* dsn, const char* user,
                               const char* password,
                               const std::optional<std::string>& localIniPath) {
  if (connectString.size() < 5 || !equalsNoCase(connectString.substr(0, 5), "ODBC;")) {
    return std::string(connectString);
  }
  Bootstrap b = parseBootstrap(connectString.substr(5));
  if (dsn != nullptr) b.dsn = dsn;
  if (user != nullptr) b.uid = user;
  if (password != nullptr) b.pwd = password;

  std::string out;
  if (!b.driver.empty()) {
    append(out, "DRIVER", b.driver);
  } else {
    std::optional<OdbcAttributes> entry;
    if (localIniPath && !b.dsn.empty()) entry = readDataSource(*localIniPath, b.dsn);
    if (entry) {
      // The driver comes first; the entry's description means nothing to it.
      for (const auto& [key, value] : *entry) {
        if (equalsNoCase(key, "Driver")) append(out, "DRIVER", value);
      }
      for (const auto& [key, value] : *entry) {
        if (!equalsNoCase(key, "Driver") && !equalsNoCase(key, "Description")) {
          append(out, key, value);
        }
      }
    } else {
      append(out, "DSN", b.dsn);
    }
  }
  if (!b.uid.empty()) append(out, "UID", b.uid);
  if (!b.pwd.empty()) append(out, "PWD", b.pwd);
  if (!b.database.empty()) append(out, "DATABASE", b.database);
  return out;
}

}  // namespace quor::dataaccess::detail
