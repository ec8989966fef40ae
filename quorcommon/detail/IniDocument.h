// IniDocument: the text of a sectioned configuration file, kept line by line
// so that an edit changes exactly one line and leaves every other byte
// (comments, blank lines, unknown sections, line ends) as it was.
//
// Syntax: "[section]" opens a section; "key=value" sets a key in the current
// section; lines whose first non-blank character is ';' or '#' are comments.
// Blanks (space, tab) around section names, keys and values are trimmed.
// Lines before the first section, lines without '=', lines with an empty key
// and unterminated "[..." lines are ignored. Names compare exactly (case
// sensitive). A key that appears twice in a section (also across two blocks
// of the same section) takes its last value. Bytes above 127 are kept as
// they are. There are no inline comments: "a=b ; c" has the value "b ; c".
// A UTF-8 byte-order mark at the very start is not part of the first line;
// it is kept on writes.
//
// No I/O and no logging, so the parser can be fuzzed on its own.
#ifndef QUORPOLICY_QUORCOMMON_DETAIL_INIDOCUMENT_H_
#define QUORPOLICY_QUORCOMMON_DETAIL_INIDOCUMENT_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quor::common::detail {

using IniSection = std::map<std::string, std::string>;
using IniSections = std::map<std::string, IniSection>;

class IniDocument {
 public:
  IniDocument() = default;
  explicit IniDocument(std::string_view text);

  // The values as read: section -> key -> value.
  const IniSections& sections() const { return _sections; }

  // Finds one value. Returns false when the section or key is absent.
  bool get(std::string_view section, std::string_view key, std::string& value) const;

  // Replaces the line that holds the key's effective (last) value, or adds
  // "key=value" after the last setting of the section's last block, or adds
  // the section at the end. REQUIRES: isWritable(section, key, value).
  void set(const std::string& section, const std::string& key, const std::string& value);

  // The whole text, including every edit.
  std::string text() const;

  // True when the three texts survive a write and a read unchanged: no line
  // breaks, no blanks at either end, a key that does not start with '[', ';'
  // or '#' and holds no '=', a section without ']'. Empty keys and sections
  // are refused; an empty value is fine.
  static bool isWritable(std::string_view section, std::string_view key, std::string_view value);

 private:
  struct Line {
    std::string text;  // without its line end
    // "\n", "\r\n" or "" for a last line without one; always one of
    // these literals, so a view of static text.
    std::string_view end;
  };
  void parse();

  std::string _bom;  // the byte-order mark the text started with, or empty
  std::vector<Line> _lines;
  IniSections _sections;
};

// Trims spaces and tabs at both ends.
std::string_view trimBlanks(std::string_view text);

}  // namespace quor::common::detail

#endif  // QUORPOLICY_QUORCOMMON_DETAIL_INIDOCUMENT_H_
