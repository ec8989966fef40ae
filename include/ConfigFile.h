// ConfigFile and ConfigFileOnDisk: sectioned configuration files.
//
// ConfigFile is the abstract interface; ConfigFileOnDisk reads a file of the
// form
//     ; comment            # comment
//     [section]
//     key = value
// into memory when it is constructed. Blanks around names and values are
// trimmed, names compare exactly (case sensitive), a key given twice in a
// section keeps its last value, lines before the first section or without
// '=' are ignored. There are no inline comments. Paths may use '\\' or '/'.
//
// Ownership and thread safety: a ConfigFileOnDisk owns a copy of its path
// and of the values it read. One object belongs to one thread at a time;
// separate objects on the same file may be used from any threads and
// processes (setparam serialises writers with a lock file).
#ifndef QUORPOLICY_INCLUDE_CONFIGFILE_H_
#define QUORPOLICY_INCLUDE_CONFIGFILE_H_

#include <map>
#include <string>

#include "QuorExport.h"

namespace QUOR {

class QUOR_COMMON_API ConfigFile {
 public:
  ConfigFile() {}
  ConfigFile(const ConfigFile&) {}
  ConfigFile& operator=(const ConfigFile&) { return *this; }

  // Returns true and sets `value` when section/key exists.
  virtual bool getparam(const char* section, const char* key, std::string& value) = 0;
  // Stores one value; returns true on success.
  virtual bool setparam(const char* section, const char* key, const char* value) = 0;
  // Reloads the source. Returns 0 on success; the base has nothing to reload.
  virtual int reload() { return 0; }
  // The name of the source (for a file: the path as given).
  virtual const char* getCfgSrcName() = 0;
  // True when the source was read.
  virtual bool isOpen() = 0;

 protected:
  // Not virtual at this level: delete through the concrete class.
  ~ConfigFile() {}
};

class QUOR_COMMON_API ConfigFileOnDisk : public ConfigFile {
 public:
  // Reads the file at `path`. A null path, a missing or unreadable file, or a
  // file above 16 MiB leaves isOpen() false (logged as an error only for the
  // size). Malformed lines are skipped, never fatal.
  explicit ConfigFileOnDisk(const char* path);
  ConfigFileOnDisk(const ConfigFileOnDisk& other)
      : ConfigFile(other), _path(other._path), _open(other._open), _sections(other._sections) {}
  ConfigFileOnDisk& operator=(const ConfigFileOnDisk& other) {
    if (this != &other) {
      _path = other._path;
      _open = other._open;
      _sections = other._sections;
    }
    return *this;
  }

  // Returns false when the file was not read or section/key is absent;
  // `value` is then unchanged. Null arguments give false.
  bool getparam(const char* section, const char* key, std::string& value) override;
  // Writes the value to the file (locked, atomic; every other line kept) and
  // to memory. Returns false, changing nothing, for null arguments, texts a
  // file line cannot carry (line breaks, blanks at either end, '=' in the
  // key, ']' in the section), or a failed write (logged).
  bool setparam(const char* section, const char* key, const char* value) override;
  // Reads the file again. Returns 0 when it was read, non-zero otherwise
  // (isOpen() then turns false and the values are dropped).
  int reload() override;
  const char* getCfgSrcName() override { return _path.c_str(); }
  bool isOpen() override { return _open; }

  virtual ~ConfigFileOnDisk() {}

  // Copies every key/value of `section` into `items`, overwriting keys that
  // exist there and keeping the others. Returns false when the file was not
  // read or has no such section.
  virtual bool getparams(const char* section, std::map<std::string, std::string>& items);
  // Writes every item of `items` into `section`, one locked update per key.
  // Returns false at the first item that could not be written (earlier items
  // stay written).
  virtual bool setparams(const char* section, std::map<std::string, std::string>& items);

 private:
  std::string _path;
  bool _open = false;
  std::map<std::string, std::map<std::string, std::string>> _sections;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_CONFIGFILE_H_
