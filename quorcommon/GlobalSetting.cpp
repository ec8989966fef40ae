#include "GlobalSetting.h"

#include <cstring>
#include <memory>

#include "ConfigFile.h"
#include "PolicyLog.h"
#include "port/Port.h"
#include "quorcommon/detail/Files.h"
#include "quorcommon/detail/IniDocument.h"

namespace QUOR {
namespace {

using quor::common::detail::IniDocument;

constexpr const char* kDefaultSettingsFile = "quor.ini";

const char* fileOrDefault(const char* file) {
  return file != nullptr && *file != '\0' ? file : kDefaultSettingsFile;
}

GS_ERROR writeSetting(const char* where, const std::string& path, const char* key,
                      const char* value, const char* section) {
  if (key == nullptr || value == nullptr || section == nullptr) return GS_INVALID_ARGUMENT;
  if (!IniDocument::isWritable(section, key, value)) return GS_INVALID_ARGUMENT;
  if (path.empty()) return GS_FILE_NOT_FOUND;
  int err = quor::common::detail::updateSettingInFile(path, section, key, value);
  if (err != 0) {
    PolicyLog::log(PolicyLog::Error, "%s: could not write key %s of section [%s] to %s: %s", where,
                   key, section, path.c_str(), std::strerror(err));
    return GS_WRITE_FAILED;
  }
  return GS_SUCCESS;
}

std::unique_ptr<GlobalSettingOnMem>& theInstance() {
  static std::unique_ptr<GlobalSettingOnMem> instance;
  return instance;
}
std::mutex& instanceMutex() {
  static std::mutex m;
  return m;
}

}  // namespace

GS_ERROR GlobalSettingIF::getItem(const char* key, std::string& value, const char* section,
                                  const char* file) {
  if (key == nullptr || section == nullptr) return GS_INVALID_ARGUMENT;
  std::string path = quor::common::detail::resolveSettingsPath(fileOrDefault(file));
  if (path.empty()) return GS_FILE_NOT_FOUND;
  ConfigFileOnDisk config(path.c_str());
  if (!config.isOpen()) return GS_FILE_NOT_FOUND;
  return config.getparam(section, key, value) ? GS_SUCCESS : GS_ITEM_NOT_FOUND;
}

GS_ERROR GlobalSettingIF::setItem(const char* key, const char* value, const char* section,
                                  const char* file) {
  return writeSetting("GlobalSettingIF::setItem",
                      quor::common::detail::resolveSettingsPath(fileOrDefault(file)), key, value,
                      section);
}

GS_ERROR GlobalSettingIF::getItemsInSection(std::map<std::string, std::string>& items,
                                            const char* section, const char* file) {
  if (section == nullptr) return GS_INVALID_ARGUMENT;
  std::string path = quor::common::detail::resolveSettingsPath(fileOrDefault(file));
  if (path.empty()) return GS_FILE_NOT_FOUND;
  ConfigFileOnDisk config(path.c_str());
  if (!config.isOpen()) return GS_FILE_NOT_FOUND;
  return config.getparams(section, items) ? GS_SUCCESS : GS_ITEM_NOT_FOUND;
}

GlobalSettingOnMem* GlobalSettingOnMem::Instance(const char* initFilePath, bool bCreate,
                                                 const char* initFileName, const char* appName,
                                                 const char* defaultSection,
                                                 const char* homeEnvVar, bool bLoad) {
  std::lock_guard guard(instanceMutex());
  auto& instance = theInstance();
  if (instance) {
    if (bLoad && !instance->ok()) instance->load();
    return instance.get();
  }
  if (!bCreate) return nullptr;

  std::unique_ptr<GlobalSettingOnMem> store(new GlobalSettingOnMem());
  if (initFilePath != nullptr) {
    store->_initFilePath = quor::port::toNativePath(initFilePath);
  } else {
    const char* var = homeEnvVar != nullptr ? homeEnvVar : "QUOR_HOME";
    const char* root = std::getenv(var);
    if (root != nullptr && *root != '\0') {
      std::string dir = quor::port::toNativePath(root);
      if (dir.back() != quor::port::kPathSeparator) dir += quor::port::kPathSeparator;
      store->_initFilePath = dir + "config";
    }
  }
  store->_initFileName = initFileName != nullptr ? initFileName : kDefaultSettingsFile;
  store->_appName = appName != nullptr ? appName : "";
  store->_defaultSection = defaultSection != nullptr ? defaultSection : "";
  if (bLoad) {
    store->load();
  } else {
    store->_message = store->_appName + "settings store started empty";
    store->_ok = true;
  }
  instance = std::move(store);
  return instance.get();
}

void GlobalSettingOnMem::DestroyInstance() {
  std::lock_guard guard(instanceMutex());
  theInstance().reset();
}

std::string GlobalSettingOnMem::fullPath() const {
  if (_initFilePath.empty()) return {};
  std::string path = _initFilePath;
  if (path.back() != quor::port::kPathSeparator) path += quor::port::kPathSeparator;
  return path + quor::port::toNativePath(_initFileName);
}

bool GlobalSettingOnMem::load() {
  std::string prefix = _appName.empty() ? std::string() : _appName + ": ";
  std::string path = fullPath();
  std::unique_lock lock(_mutex);
  if (path.empty()) {
    _message = prefix + "settings folder unknown: the installation root is not set";
    _ok = false;
    return false;
  }
  std::string data;
  if (int err = quor::common::detail::readWholeFile(path, data); err != 0) {
    _message = prefix + "could not read settings file " + path + ": " + std::strerror(err);
    _ok = false;
    return false;
  }
  _items = IniDocument(data).sections();
  _message = prefix + "loaded settings file " + path;
  _ok = true;
  return true;
}

GS_ERROR GlobalSettingOnMem::getItem(const char* key, std::string& value, const char* section,
                                     const char* /*file*/) {
  section = sectionOrDefault(section);
  if (key == nullptr || section == nullptr) return GS_INVALID_ARGUMENT;
  if (!ok()) return GS_FAILURE;
  std::shared_lock lock(_mutex);
  auto s = _items.find(section);
  if (s == _items.end()) return GS_ITEM_NOT_FOUND;
  auto k = s->second.find(key);
  if (k == s->second.end()) return GS_ITEM_NOT_FOUND;
  value = k->second;
  return GS_SUCCESS;
}

GS_ERROR GlobalSettingOnMem::setItem(const char* key, const char* value, const char* section,
                                     const char* /*file*/) {
  section = sectionOrDefault(section);
  // One lock over the file and the memory: two writers of the same key must
  // leave the same winner in both.
  std::unique_lock lock(_mutex);
  GS_ERROR rc = writeSetting("GlobalSettingOnMem::setItem", fullPath(), key, value, section);
  if (rc != GS_SUCCESS) return rc;
  _items[section][key] = value;
  return GS_SUCCESS;
}

GS_ERROR GlobalSettingOnMem::getItemsInSection(std::map<std::string, std::string>& items,
                                               const char* section, const char* /*file*/) {
  section = sectionOrDefault(section);
  if (section == nullptr) return GS_INVALID_ARGUMENT;
  if (!ok()) return GS_FAILURE;
  std::shared_lock lock(_mutex);
  auto s = _items.find(section);
  if (s == _items.end()) return GS_ITEM_NOT_FOUND;
  for (const auto& [key, value] : s->second) items[key] = value;
  return GS_SUCCESS;
}

}  // namespace QUOR
