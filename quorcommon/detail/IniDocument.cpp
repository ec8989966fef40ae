#include "quorcommon/detail/IniDocument.h"

namespace quor::common::detail {
namespace {

enum class LineKind { Other, Section, Setting };

struct Parsed {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section name or key
  std::string_view value;  // value of a setting
};

Parsed classify(std::string_view raw) {
  Parsed p;
  std::string_view line = trimBlanks(raw);
  if (line.empty() || line.front() == ';' || line.front() == '#') return p;
  if (line.front() == '[') {
    auto close = line.find(']');
    if (close == std::string_view::npos) return p;
    p.kind = LineKind::Section;
    p.name = trimBlanks(line.substr(1, close - 1));
    return p;
  }
  auto eq = line.find('=');
  if (eq == std::string_view::npos) return p;
  p.name = trimBlanks(line.substr(0, eq));
  if (p.name.empty()) return p;
  p.kind = LineKind::Setting;
  p.value = trimBlanks(line.substr(eq + 1));
  return p;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

IniDocument::IniDocument(std::string_view text) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    _bom = std::string(kUtf8Bom);
    text.remove_prefix(kUtf8Bom.size());
  }
  while (!text.empty()) {
    auto nl = text.find('\n');
    Line line;
    if (nl == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      line.text = std::string(text.substr(0, nl));
      line.end = "\n";
      text.remove_prefix(nl + 1);
      if (!line.text.empty() && line.text.back() == '\r') {
        line.text.pop_back();
        line.end = "\r\n";
      }
    }
    _lines.push_back(std::move(line));
  }
  parse();
}

void IniDocument::parse() {
  _sections.clear();
  const std::string* current = nullptr;
  for (const Line& line : _lines) {
    Parsed p = classify(line.text);
    if (p.kind == LineKind::Section) {
      current = &_sections.try_emplace(std::string(p.name)).first->first;
    } else if (p.kind == LineKind::Setting && current != nullptr) {
      _sections[*current][std::string(p.name)] = std::string(p.value);
    }
  }
}

bool IniDocument::get(std::string_view section, std::string_view key, std::string& value) const {
  auto s = _sections.find(std::string(section));
  if (s == _sections.end()) return false;
  auto k = s->second.find(std::string(key));
  if (k == s->second.end()) return false;
  value = k->second;
  return true;
}

void IniDocument::set(const std::string& section, const std::string& key,
                      const std::string& value) {
  // Find the line holding the key's effective value and the last setting
  // (or header) of the section's last block.
  bool inSection = false;
  std::ptrdiff_t keyLine = -1;
  std::ptrdiff_t insertAfter = -1;
  for (size_t i = 0; i < _lines.size(); ++i) {
    Parsed p = classify(_lines[i].text);
    if (p.kind == LineKind::Section) {
      inSection = p.name == section;
      if (inSection) insertAfter = static_cast<std::ptrdiff_t>(i);
    } else if (p.kind == LineKind::Setting && inSection) {
      insertAfter = static_cast<std::ptrdiff_t>(i);
      if (p.name == key) keyLine = static_cast<std::ptrdiff_t>(i);
    }
  }
  // New lines use the file's own line end.
  std::string_view eol = "\n";
  for (const Line& line : _lines) {
    if (!line.end.empty()) {
      eol = line.end;
      break;
    }
  }
  // A last line without a line end gets one. A trailing '\r' of its text
  // would merge with a plain "\n" into a CRLF and be lost, so it then gets
  // "\r\n", which keeps the '\r' as part of the text.
  auto terminate = [&eol](Line& line) {
    if (!line.end.empty()) return;
    line.end = !line.text.empty() && line.text.back() == '\r' ? std::string_view("\r\n") : eol;
  };
  const std::string setting = key + "=" + value;
  if (keyLine >= 0) {
    _lines[static_cast<size_t>(keyLine)].text = setting;
  } else if (insertAfter >= 0) {
    auto pos = static_cast<size_t>(insertAfter);
    terminate(_lines[pos]);
    _lines.insert(_lines.begin() + insertAfter + 1, Line{setting, eol});
  } else {
    if (!_lines.empty()) terminate(_lines.back());
    _lines.push_back(Line{"[" + section + "]", eol});
    _lines.push_back(Line{setting, eol});
  }
  _sections[section][key] = value;
}

std::string IniDocument::text() const {
  std::string out = _bom;
  for (const Line& line : _lines) {
    out += line.text;
    out += line.end;
  }
  return out;
}

bool IniDocument::isWritable(std::string_view section, std::string_view key,
                             std::string_view value) {
  auto hasBreak = [](std::string_view t) {
    return t.find('\n') != std::string_view::npos || t.find('\r') != std::string_view::npos;
  };
  auto trimmed = [](std::string_view t) { return trimBlanks(t).size() == t.size(); };
  if (section.empty() || key.empty()) return false;
  if (hasBreak(section) || hasBreak(key) || hasBreak(value)) return false;
  if (!trimmed(section) || !trimmed(key) || !trimmed(value)) return false;
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos) return false;
  if (key.front() == '[' || key.front() == ';' || key.front() == '#') return false;
  return true;
}

}  // namespace quor::common::detail
