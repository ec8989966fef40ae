#include "quorcommon/detail/Files.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "port/Port.h"
#include "port/PortFile.h"
#include "quorcommon/detail/IniDocument.h"

namespace quor::common::detail {

int readWholeFile(const std::string& path, std::string& contents, std::size_t limit) {
  const std::filesystem::path native(port::toNativePath(path));
  std::error_code ec;
  auto status = std::filesystem::status(native, ec);
  if (ec) return ec.value();
  if (std::filesystem::is_directory(status)) return EISDIR;
  if (!std::filesystem::is_regular_file(status)) return EINVAL;
  std::ifstream in(native, std::ios::binary);
  if (!in) return errno != 0 ? errno : EACCES;
  in.seekg(0, std::ios::end);
  auto size = in.tellg();
  if (size < 0) return EIO;
  if (static_cast<std::size_t>(size) > limit) return EFBIG;
  in.seekg(0, std::ios::beg);
  std::string data(static_cast<std::size_t>(size), '\0');
  if (size > 0 && !in.read(data.data(), size)) return EIO;
  contents = std::move(data);
  return 0;
}

std::string quorHomeDir() {
  const char* home = std::getenv("QUOR_HOME");
  if (home == nullptr || *home == '\0') return {};
  std::string root = port::toNativePath(home);
  while (root.size() > 1 && root.back() == port::kPathSeparator) root.pop_back();
  return root;
}

std::string resolveSettingsPath(const char* file) {
  if (file == nullptr || *file == '\0') return {};
  std::string name = port::toNativePath(file);
  if (name.find(port::kPathSeparator) != std::string::npos) return name;
  std::string root = quorHomeDir();
  if (root.empty()) return {};
  return root + port::kPathSeparator + "config" + port::kPathSeparator + name;
}

int updateSettingInFile(const std::string& path, const std::string& section,
                        const std::string& key, const std::string& value) {
  if (!IniDocument::isWritable(section, key, value)) return EINVAL;
  // A settings file may be a link to a file kept elsewhere: the file linked
  // to is the one that changes, and its lock and temporary file lie beside
  // it, so that writers through any name exclude each other.
  std::string target;
  if (int err = port::resolveLinks(path, target); err != 0) return err;
  port::FileLock lock(target + ".lock");
  if (int err = lock.lock(); err != 0) return err;
  port::removeStaleTemporaries(target);
  std::string text;
  int err = readWholeFile(target, text);
  if (err != 0 && err != ENOENT) return err;
  IniDocument doc(text);
  std::string current;
  if (doc.get(section, key, current) && current == value) return 0;
  doc.set(section, key, value);
  return port::replaceFileDurably(target, doc.text());
}

}  // namespace quor::common::detail
