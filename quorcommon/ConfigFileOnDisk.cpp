#include "ConfigFile.h"

#include <cerrno>
#include <cstring>

#include "PolicyLog.h"
#include "port/Port.h"
#include "quorcommon/detail/Files.h"
#include "quorcommon/detail/IniDocument.h"

namespace QUOR {

using quor::common::detail::IniDocument;

ConfigFileOnDisk::ConfigFileOnDisk(const char* path) : _path(path != nullptr ? path : "") {
  reload();
}

int ConfigFileOnDisk::reload() {
  _open = false;
  _sections.clear();
  if (_path.empty()) return EINVAL;
  std::string text;
  int err = quor::common::detail::readWholeFile(_path, text);
  if (err == EFBIG) {
    PolicyLog::log(PolicyLog::Error, "ConfigFileOnDisk: file %s is too large to be read",
                   _path.c_str());
  }
  if (err != 0) return err;
  _sections = IniDocument(text).sections();
  _open = true;
  return 0;
}

bool ConfigFileOnDisk::getparam(const char* section, const char* key, std::string& value) {
  if (!_open || section == nullptr || key == nullptr) return false;
  auto s = _sections.find(section);
  if (s == _sections.end()) return false;
  auto k = s->second.find(key);
  if (k == s->second.end()) return false;
  value = k->second;
  return true;
}

bool ConfigFileOnDisk::setparam(const char* section, const char* key, const char* value) {
  if (section == nullptr || key == nullptr || value == nullptr || _path.empty()) return false;
  if (!IniDocument::isWritable(section, key, value)) return false;
  int err = quor::common::detail::updateSettingInFile(quor::port::toNativePath(_path), section,
                                                      key, value);
  if (err != 0) {
    PolicyLog::log(PolicyLog::Error,
                   "ConfigFileOnDisk::setparam: could not write key %s of section [%s] to %s: %s",
                   key, section, _path.c_str(), std::strerror(err));
    return false;
  }
  _sections[section][key] = value;
  return true;
}

bool ConfigFileOnDisk::getparams(const char* section, std::map<std::string, std::string>& items) {
  if (!_open || section == nullptr) return false;
  auto s = _sections.find(section);
  if (s == _sections.end()) return false;
  for (const auto& [key, value] : s->second) items[key] = value;
  return true;
}

bool ConfigFileOnDisk::setparams(const char* section, std::map<std::string, std::string>& items) {
  for (const auto& [key, value] : items) {
    if (!setparam(section, key.c_str(), value.c_str())) return false;
  }
  return true;
}

}  // namespace QUOR
