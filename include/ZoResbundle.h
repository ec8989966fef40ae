// ZoResbundle and ZoCachedResbundle: localized texts from ICU resource
// bundles.
//
// A bundle is a folder <resource file>/<bundle name>/ of compiled ICU
// resources (root.res, en.res, ...). The texts are looked up by key in the
// requested locale with ICU's fallback to the root locale. The library ships
// the bundle "UiDisplay" with the display names of the policy actions.
//
// A bundle that cannot be opened is not an error of construction: every
// getString then returns false (and the opening failure is logged once as a
// warning). getString never throws.
//
// Thread safety: a bundle object, and every copy of it (copies share the
// opened ICU bundle), belongs to one thread at a time; open one bundle per
// thread. ZoCachedResbundle additionally guards its cache.
#ifndef QUORPOLICY_INCLUDE_ZORESBUNDLE_H_
#define QUORPOLICY_INCLUDE_ZORESBUNDLE_H_

#include <unicode/fmtable.h>
#include <unicode/unistr.h>
#include <unicode/ures.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QuorExport.h"

namespace QUOR {

// The destructors are not virtual: the classes keep a fixed table of
// virtual operations. Delete objects through their own type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class QUOR_COMMON_API ZoResbundle {
 public:
  // Opens bundle `bundleName` under the folder `resourceFile` for `locale`
  // (an ICU locale id such as "en" or "de_CH"; null: the process's default).
  ZoResbundle(const char* resourceFile, const char* bundleName, const char* locale);
  // As above with the folder that GetResourceFileName() names.
  ZoResbundle(const char* bundleName, const char* locale);
  ZoResbundle(const ZoResbundle& other)
      : _bundle(other._bundle), _folder(other._folder), _locale(other._locale) {}
  ZoResbundle& operator=(const ZoResbundle& other) {
    if (this != &other) {
      _bundle = other._bundle;
      _folder = other._folder;
      _locale = other._locale;
    }
    return *this;
  }
  ~ZoResbundle() {}

  // Formats the text of `key` as an ICU message pattern ("{0} ... {1}")
  // with `args`, into UTF-8. False when the key is absent or the pattern
  // does not format.
  virtual bool getString(const char* key, const std::vector<icu::Formattable>& args,
                         std::string& text);
  // As above with text arguments (UTF-8).
  virtual bool getString(const char* key, const std::vector<std::string>& args,
                         std::string& text);
  // The text of `key`. False, leaving `text` unchanged, when the bundle is
  // not open, `key` is null or absent, or the resource is not a string.
  virtual bool getString(const char* key, icu::UnicodeString& text);
  // The text of `key` in UTF-8; same failures.
  virtual bool getString(const char* key, std::string& text);

  // True when the bundle was opened.
  bool isOpen() const { return _bundle != nullptr; }

  // The folder holding the bundles: <QUOR_HOME>/resources when that folder
  // exists, else the installed data folder when it exists, else the build
  // tree's compiled resources. The text stays valid until the next call on
  // the same thread.
  static const char* GetResourceFileName();

  // The fixed text "_trans".
  static const char* translate() { return "_trans"; }

 protected:
  // Looks the key up in the ICU bundle itself, bypassing any cache.
  bool lookUp(const char* key, icu::UnicodeString& text) const;

 private:
  void open(const char* resourceFile, const char* bundleName, const char* locale);

  std::shared_ptr<UResourceBundle> _bundle;
  std::string _folder;
  std::string _locale;
};

class QUOR_COMMON_API ZoCachedResbundle : public ZoResbundle {
 public:
  ZoCachedResbundle(const char* resourceFile, const char* bundleName, const char* locale)
      : ZoResbundle(resourceFile, bundleName, locale) {}
  ZoCachedResbundle(const char* bundleName, const char* locale)
      : ZoResbundle(bundleName, locale) {}
  ZoCachedResbundle(const ZoCachedResbundle& other) : ZoResbundle(other) {
    std::lock_guard lock(other._cacheMutex);
    _cache = other._cache;
  }
  ZoCachedResbundle& operator=(const ZoCachedResbundle& other) {
    if (this != &other) {
      ZoResbundle::operator=(other);
      std::scoped_lock lock(_cacheMutex, other._cacheMutex);
      _cache = other._cache;
    }
    return *this;
  }
  ~ZoCachedResbundle() {}

  // The same lookups as ZoResbundle; each key's text is fetched from the
  // bundle once and then answered from the cache.
  bool getString(const char* key, const std::vector<icu::Formattable>& args,
                 std::string& text) override;
  bool getString(const char* key, const std::vector<std::string>& args,
                 std::string& text) override;
  bool getString(const char* key, icu::UnicodeString& text) override;
  bool getString(const char* key, std::string& text) override;

  // Number of keys held in the cache.
  size_t cachedCount() const {
    std::lock_guard lock(_cacheMutex);
    return _cache.size();
  }

 private:
  mutable std::mutex _cacheMutex;
  std::map<std::string, icu::UnicodeString> _cache;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_ZORESBUNDLE_H_
