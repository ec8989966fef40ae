// GlobalSetting, GlobalSettingIF and GlobalSettingOnMem: the gateway's
// settings stores.
//
// Settings are texts addressed by key, section and settings file. A file
// name without separators, such as "quor.ini", lies in <QUOR_HOME>/config/;
// a name with separators is a path used as given ('\\' or '/'). A null file
// means "quor.ini". The files are sectioned configuration files (see
// ConfigFile.h).
//
// GlobalSettingIF works on the file for every call and keeps no state.
// setItem replaces or adds one "key=value" line and keeps every other line,
// comment and section as it was; it holds an exclusive lock on
// "<file>.lock" while it reads, edits, writes a temporary file in the same
// folder, flushes it and renames it over the file, so neither a crash nor
// concurrent writers (threads or processes) lose data.
//
// GlobalSettingOnMem is the process's in-memory store, loaded once from a
// settings file. Its operations may be called from any thread (an internal
// reader/writer lock guards the items).
#ifndef QUORPOLICY_INCLUDE_GLOBALSETTING_H_
#define QUORPOLICY_INCLUDE_GLOBALSETTING_H_

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "QuorExport.h"

namespace QUOR {

// Result of the settings operations; 0 is success.
enum GS_ERROR {
  GS_SUCCESS = 0,
  GS_FAILURE = 1,           // not supported by this store, or the store is not usable
  GS_ITEM_NOT_FOUND = 2,    // no such key or section
  GS_FILE_NOT_FOUND = 3,    // the settings file could not be read, or QUOR_HOME is unset
  GS_WRITE_FAILED = 4,      // the settings file could not be written (logged)
  GS_INVALID_ARGUMENT = 5,  // a null text, or a text a settings line cannot carry
};

// The settings interface. Not deletable through this type.
class QUOR_COMMON_API GlobalSetting {
 public:
  // Reads the text with the text form of getItem. On failure returns its
  // error and leaves `value` unchanged. Otherwise "yes" and "true" give 1,
  // "no" and "false" give 0 (exact case), any other text its atoi value.
  virtual GS_ERROR getItem(const char* key, int& value, const char* section,
                           const char* file = nullptr) {
    std::string text;
    GS_ERROR rc = getItem(key, text, section, file);
    if (rc != GS_SUCCESS) return rc;
    if (text == "yes" || text == "true") {
      value = 1;
    } else if (text == "no" || text == "false") {
      value = 0;
    } else {
      value = std::atoi(text.c_str());
    }
    return GS_SUCCESS;
  }
  virtual GS_ERROR getItem(const char* key, std::string& value, const char* section,
                           const char* file = nullptr) = 0;
  virtual GS_ERROR setItem(const char* key, const char* value, const char* section,
                           const char* file = nullptr) = 0;
  // Adds the section's items to `items`. The base has none and returns 1.
  virtual GS_ERROR getItemsInSection(std::map<std::string, std::string>& /*items*/,
                                     const char* /*section*/, const char* /*file*/ = nullptr) {
    return GS_FAILURE;
  }
  // Transactions are not supported by these stores: both return 1.
  virtual GS_ERROR beginTranscation() { return GS_FAILURE; }
  virtual GS_ERROR endTranscation() { return GS_FAILURE; }

 protected:
  GlobalSetting() {}
  GlobalSetting(const GlobalSetting&) {}
  GlobalSetting& operator=(const GlobalSetting&) { return *this; }
  ~GlobalSetting() {}
};

// The destructors below are not virtual: the classes keep a fixed table of
// virtual operations. Delete objects through their own type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class QUOR_COMMON_API GlobalSettingIF : public GlobalSetting {
 public:
  GlobalSettingIF() {}
  GlobalSettingIF(const GlobalSettingIF& other) : GlobalSetting(other) {}
  GlobalSettingIF& operator=(const GlobalSettingIF&) { return *this; }
  ~GlobalSettingIF() {}

  using GlobalSetting::getItem;
  // GS_INVALID_ARGUMENT for a null key or section, GS_FILE_NOT_FOUND when
  // the file cannot be read, GS_ITEM_NOT_FOUND when the key is absent.
  // Nothing is logged; `value` changes only on success.
  GS_ERROR getItem(const char* key, std::string& value, const char* section,
                   const char* file = nullptr) override;
  // Replaces or adds one key (creating the section and the file when
  // missing). GS_INVALID_ARGUMENT for null texts, line breaks, blanks at
  // either end, '=' in the key or ']' in the section; GS_FILE_NOT_FOUND when
  // QUOR_HOME is needed and unset; GS_WRITE_FAILED (logged as
  // "GlobalSettingIF::setItem: could not write key %s of section [%s] to %s: %s")
  // when the file or its lock cannot be written, the file then unchanged.
  GS_ERROR setItem(const char* key, const char* value, const char* section,
                   const char* file = nullptr) override;
  // Adds every key of the section to `items`, overwriting keys it defines
  // and keeping the others; never clears the map. GS_FILE_NOT_FOUND when the
  // file cannot be read, GS_ITEM_NOT_FOUND when the section is absent.
  GS_ERROR getItemsInSection(std::map<std::string, std::string>& items, const char* section,
                             const char* file = nullptr) override;
};

class QUOR_COMMON_API GlobalSettingOnMem : public GlobalSettingIF {
 public:
  // The process's store. When one exists it is returned (and, when it did
  // not load and `bLoad` is true, loading is tried again); the other
  // arguments are then ignored. Otherwise, when `bCreate` is false, returns
  // null; else makes the store for the file `initFileName` (null: "quor.ini")
  // in the folder `initFilePath` (null: <root>/config, the root being the
  // environment variable named by `homeEnvVar`, null: "QUOR_HOME") and, when
  // `bLoad` is true, loads it; ok() then tells whether that worked. Without
  // `bLoad` the store starts empty and ok() is true. `appName` prefixes
  // getMessage(); `defaultSection` is used by calls that pass a null section.
  // The store lives until DestroyInstance() or the end of the process.
  static GlobalSettingOnMem* Instance(const char* initFilePath, bool bCreate,
                                      const char* initFileName, const char* appName,
                                      const char* defaultSection, const char* homeEnvVar,
                                      bool bLoad);
  // Drops the process's store. REQUIRES: no thread uses it any more.
  static void DestroyInstance();

  GlobalSettingOnMem(const GlobalSettingOnMem& other) : GlobalSettingIF(other) {
    std::shared_lock lock(other._mutex);
    copyFrom(other);
  }
  GlobalSettingOnMem& operator=(const GlobalSettingOnMem& other) {
    if (this != &other) {
      std::scoped_lock lock(_mutex, other._mutex);
      copyFrom(other);
    }
    return *this;
  }
  ~GlobalSettingOnMem() {}

  // True when the store is usable: loaded, or made without loading.
  bool ok() const { return _ok.load(); }
  // What happened at loading, e.g. the file that was read or why it was not.
  // Stable once the store has loaded.
  const char* getMessage() const { return _message.c_str(); }
  // The folder of the settings file and its name.
  const char* getInitFilePath() const { return _initFilePath.c_str(); }
  const char* getInitFileName() const { return _initFileName.c_str(); }

  // Replaces or creates one item in memory only. Returns false for a null
  // key or value, or a null section without a default section.
  bool insertReplaceItemOnMem(const char* key, const char* value, const char* section) {
    if (key == nullptr || value == nullptr) return false;
    if (section == nullptr && _defaultSection.empty()) return false;
    std::unique_lock lock(_mutex);
    _items[section != nullptr ? section : _defaultSection][key] = value;
    return true;
  }

  using GlobalSetting::getItem;
  // Reads from memory; `file` is ignored. GS_FAILURE when the store is not
  // ok(), GS_ITEM_NOT_FOUND when the item is absent.
  GS_ERROR getItem(const char* key, std::string& value, const char* section,
                   const char* file = nullptr) override;
  // Writes the item to the store's file (as GlobalSettingIF::setItem; `file`
  // is ignored) and then to memory.
  GS_ERROR setItem(const char* key, const char* value, const char* section,
                   const char* file = nullptr) override;
  // Adds the section's items held in memory to `items`; `file` is ignored.
  GS_ERROR getItemsInSection(std::map<std::string, std::string>& items, const char* section,
                             const char* file = nullptr) override;

 private:
  GlobalSettingOnMem() {}
  void copyFrom(const GlobalSettingOnMem& other) {
    _initFilePath = other._initFilePath;
    _initFileName = other._initFileName;
    _message = other._message;
    _appName = other._appName;
    _defaultSection = other._defaultSection;
    _items = other._items;
    _ok = other._ok.load();
  }
  bool load();
  std::string fullPath() const;
  const char* sectionOrDefault(const char* section) const {
    return section != nullptr ? section : (_defaultSection.empty() ? nullptr : _defaultSection.c_str());
  }

  mutable std::shared_mutex _mutex;
  std::string _initFilePath;
  std::string _initFileName;
  std::string _message;
  std::string _appName;
  std::string _defaultSection;
  std::map<std::string, std::map<std::string, std::string>> _items;
  std::atomic<bool> _ok{false};
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_GLOBALSETTING_H_
