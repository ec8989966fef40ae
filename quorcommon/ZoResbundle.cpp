#include "ZoResbundle.h"

#include <sys/stat.h>
#include <unicode/msgfmt.h>

#include "PolicyLog.h"
#include "port/Port.h"
#include "quorcommon/detail/Files.h"

namespace QUOR {
namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void closeBundle(UResourceBundle* bundle) {
  if (bundle != nullptr) ures_close(bundle);
}

}  // namespace

const char* ZoResbundle::GetResourceFileName() {
  thread_local std::string folder;
  std::string root = quor::common::detail::quorHomeDir();
  std::string candidate = root.empty() ? std::string() : root + quor::port::kPathSeparator + "resources";
  if (!candidate.empty() && isDirectory(candidate)) {
    folder = candidate;
  } else if (isDirectory(QUOR_RESOURCE_INSTALL_DIR)) {
    folder = QUOR_RESOURCE_INSTALL_DIR;
  } else {
    folder = QUOR_RESOURCE_BUILD_DIR;
  }
  return folder.c_str();
}

ZoResbundle::ZoResbundle(const char* resourceFile, const char* bundleName, const char* locale) {
  open(resourceFile, bundleName, locale);
}

ZoResbundle::ZoResbundle(const char* bundleName, const char* locale) {
  open(GetResourceFileName(), bundleName, locale);
}

void ZoResbundle::open(const char* resourceFile, const char* bundleName, const char* locale) {
  if (resourceFile == nullptr || bundleName == nullptr || *bundleName == '\0') {
    PolicyLog::log(PolicyLog::Warning, "ZoResbundle: no resource folder or bundle name given");
    return;
  }
  std::string folder = quor::port::toNativePath(resourceFile);
  if (!folder.empty() && folder.back() != quor::port::kPathSeparator) {
    folder += quor::port::kPathSeparator;
  }
  // A package path that ends with a separator names a folder of .res files.
  _folder = folder + quor::port::toNativePath(bundleName) + quor::port::kPathSeparator;
  _locale = locale != nullptr ? locale : "";
  UErrorCode status = U_ZERO_ERROR;
  UResourceBundle* bundle = ures_open(_folder.c_str(), locale, &status);
  if (U_FAILURE(status)) {
    closeBundle(bundle);
    PolicyLog::log(PolicyLog::Warning, "ZoResbundle: could not open bundle %s: %s",
                   _folder.c_str(), u_errorName(status));
    return;
  }
  _bundle.reset(bundle, &closeBundle);
}

bool ZoResbundle::lookUp(const char* key, icu::UnicodeString& text) const {
  if (_bundle == nullptr || key == nullptr) return false;
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  const UChar* chars = ures_getStringByKey(_bundle.get(), key, &length, &status);
  if (U_FAILURE(status) || chars == nullptr) return false;
  text = icu::UnicodeString(chars, length);
  return true;
}

bool ZoResbundle::getString(const char* key, icu::UnicodeString& text) { return lookUp(key, text); }

bool ZoResbundle::getString(const char* key, std::string& text) {
  icu::UnicodeString found;
  if (!getString(key, found)) return false;
  text.clear();
  found.toUTF8String(text);
  return true;
}

bool ZoResbundle::getString(const char* key, const std::vector<icu::Formattable>& args,
                            std::string& text) {
  icu::UnicodeString pattern;
  if (!getString(key, pattern)) return false;
  UErrorCode status = U_ZERO_ERROR;
  icu::Locale locale = _locale.empty() ? icu::Locale::getDefault() : icu::Locale(_locale.c_str());
  icu::MessageFormat format(pattern, locale, status);
  if (U_FAILURE(status)) return false;
  icu::UnicodeString result;
  icu::FieldPosition ignore;
  format.format(args.data(), static_cast<int32_t>(args.size()), result, ignore, status);
  if (U_FAILURE(status)) return false;
  text.clear();
  result.toUTF8String(text);
  return true;
}

bool ZoResbundle::getString(const char* key, const std::vector<std::string>& args,
                            std::string& text) {
  std::vector<icu::Formattable> formattables;
  formattables.reserve(args.size());
  for (const std::string& arg : args) {
    formattables.emplace_back(icu::UnicodeString::fromUTF8(arg));
  }
  return getString(key, formattables, text);
}

bool ZoCachedResbundle::getString(const char* key, icu::UnicodeString& text) {
  if (key == nullptr) return false;
  {
    std::lock_guard lock(_cacheMutex);
    auto it = _cache.find(key);
    if (it != _cache.end()) {
      text = it->second;
      return true;
    }
  }
  icu::UnicodeString found;
  if (!lookUp(key, found)) return false;
  std::lock_guard lock(_cacheMutex);
  _cache.emplace(key, found);
  text = found;
  return true;
}

bool ZoCachedResbundle::getString(const char* key, std::string& text) {
  return ZoResbundle::getString(key, text);
}

bool ZoCachedResbundle::getString(const char* key, const std::vector<icu::Formattable>& args,
                                  std::string& text) {
  return ZoResbundle::getString(key, args, text);
}

bool ZoCachedResbundle::getString(const char* key, const std::vector<std::string>& args,
                                  std::string& text) {
  return ZoResbundle::getString(key, args, text);
}

}  // namespace QUOR
