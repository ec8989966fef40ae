#include <sys/stat.h>

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <unordered_map>

#include "ZoDataAccess.h"
#include "dataaccess/detail/Failure.h"
#include "dataaccess/detail/SqlText.h"
#include "port/Port.h"

using quor::dataaccess::detail::throwFailuref;

namespace {

struct CachedFile {
  struct timespec mtime {};
  off_t size = 0;
  std::string text;
};

struct FileCache {
  std::mutex mutex;
  std::unordered_map<std::string, CachedFile> files;
};

FileCache& cache() {
  static FileCache* c = new FileCache;  // never destroyed: used until exit
  return *c;
}

bool sameStamp(const struct stat& st, const CachedFile& f) {
  return st.st_mtim.tv_sec == f.mtime.tv_sec && st.st_mtim.tv_nsec == f.mtime.tv_nsec &&
         st.st_size == f.size;
}

// The statements shared by every dialect live in the folder "common" beside
// the dialect folders: for ".../sql/pgsql" that is ".../sql/common". Empty
// when `directory` names no parent folder.
std::string commonFolder(const std::string& directory) {
  std::string d = directory;
  while (!d.empty() && d.back() == quor::port::kPathSeparator) d.pop_back();
  const size_t cut = d.find_last_of(quor::port::kPathSeparator);
  if (cut == std::string::npos) return std::string();
  return d.substr(0, cut + 1) + "common";
}

// The statement text of `path`, from the cache while the file is unchanged.
// When `path` does not exist, `fallback` (when not empty) is read instead.
// Throws, naming `path`, when neither can be read.
std::string statementText(const std::string& path, const std::string& fallback,
                          const char* fileName) {
  struct stat st {};
  std::string chosen = path;
  bool found = ::stat(path.c_str(), &st) == 0;
  if (!found && !fallback.empty() && ::stat(fallback.c_str(), &st) == 0) {
    chosen = fallback;
    found = true;
  }
  if (!found || !S_ISREG(st.st_mode)) {
    throwFailuref("ZoSqlLoader::loadSQL: cannot open statement file %s (%s)", fileName,
                  path.c_str());
  }
  FileCache& c = cache();
  {
    std::lock_guard<std::mutex> guard(c.mutex);
    const auto it = c.files.find(chosen);
    if (it != c.files.end() && sameStamp(st, it->second)) return it->second.text;
  }
  std::ifstream in(chosen, std::ios::binary);
  if (!in) {
    throwFailuref("ZoSqlLoader::loadSQL: cannot open statement file %s (%s)", fileName,
                  path.c_str());
  }
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  // Editors may start a UTF-8 file with a byte-order mark; it is not SQL.
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  std::lock_guard<std::mutex> guard(c.mutex);
  c.files[chosen] = CachedFile{st.st_mtim, st.st_size, text};
  return text;
}

}  // namespace

ZoSqlLoader::ZoSqlLoader(const char* sqlDirectory)
    : _directory(sqlDirectory == nullptr ? "" : quor::port::toNativePath(sqlDirectory)) {}

ZoSqlLoader::~ZoSqlLoader() = default;

void ZoSqlLoader::loadSQL(char* buffer, int bufferSize, const char* fileName, ...) {
  if (buffer != nullptr && bufferSize > 0) buffer[0] = '\0';
  if (fileName == nullptr) throwFailuref("ZoSqlLoader::loadSQL: no statement file named");
  if (buffer == nullptr || bufferSize <= 0) {
    throwFailuref("ZoSqlLoader::loadSQL: no buffer for statement file %s", fileName);
  }
  std::string path = _directory;  // the dialect folder, read first
  if (!path.empty() && path.back() != quor::port::kPathSeparator) {
    path.push_back(quor::port::kPathSeparator);
  }
  const std::string native = quor::port::toNativePath(fileName);
  const std::string common = commonFolder(_directory);
  const std::string format = statementText(
      path + native, common.empty() ? common : common + quor::port::kPathSeparator + native,
      fileName);

  std::string statement;
  std::string error;
  va_list args;
  va_start(args, fileName);
  const bool ok = quor::dataaccess::detail::formatStatement(format, args, statement, error);
  va_end(args);
  if (!ok) throwFailuref("ZoSqlLoader::loadSQL: statement file %s: %s", fileName, error.c_str());
  if (statement.size() + 1 > static_cast<size_t>(bufferSize)) {
    throwFailuref("ZoSqlLoader::loadSQL: statement of file %s needs %zu bytes, buffer has %d",
                  fileName, statement.size() + 1, bufferSize);
  }
  std::memcpy(buffer, statement.c_str(), statement.size() + 1);
}
