#include "dataaccess/detail/SqlText.h"

#include <cctype>
#include "dataaccess/detail/TextUtil.h"

namespace quor::dataaccess::detail {
namespace {

// Length of a dollar-quote opening tag ("$$" or "$name$") at `pos`, 0 if none.
size_t dollarTagLength(std::string_view s, size_t pos) {
  size_t i = pos + 1;
  while (i < s.size() && (std::isalnum(static_cast<unsigned char>(s[i])) || s[i] == '_')) ++i;
  if (i < s.size() && s[i] == '$') {
    // "$1" is a parameter, not a tag.
    if (i > pos + 1 && std::isdigit(static_cast<unsigned char>(s[pos + 1]))) return 0;
    return i - pos + 1;
  }
  return 0;
}

// True while `piece` is a trigger whose BEGIN ... END body is still open:
// it starts "CREATE [TEMP|TEMPORARY] TRIGGER", holds the word BEGIN and does
// not end with the word END yet. The ';' ending each statement of the body
// then belongs to the trigger. (A body statement that itself ends in END,
// such as a CASE expression, is not told apart.)
bool inTriggerBody(std::string_view piece) {
  std::vector<std::string> words;
  bool begin = false;
  for (size_t i = 0; i < piece.size();) {
    if (!std::isalnum(static_cast<unsigned char>(piece[i])) && piece[i] != '_') {
      ++i;
      continue;
    }
    std::string word;
    for (; i < piece.size() && (std::isalnum(static_cast<unsigned char>(piece[i])) || piece[i] == '_'); ++i) {
      word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(piece[i]))));
    }
    begin = begin || word == "BEGIN";
    words.push_back(std::move(word));
  }
  if (words.size() < 3 || words[0] != "CREATE" || !begin) return false;
  const bool trigger =
      words[1] == "TRIGGER" || ((words[1] == "TEMP" || words[1] == "TEMPORARY") && words[2] == "TRIGGER");
  return trigger && words.back() != "END";
}

}  // namespace

std::vector<std::string> splitStatements(std::string_view text) {
  std::vector<std::string> out;
  std::string piece;  // the current statement, comments left out
  auto cut = [&]() {
    const std::string_view t = trim(piece);
    if (!t.empty()) out.emplace_back(t);
    piece.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    size_t next = i + 1;
    if (c == '\'' || c == '"') {
      // A doubled quote inside a literal is an escaped quote; scanning on
      // past it as "close, reopen" gives the same result.
      const size_t close = text.find(c, i + 1);
      next = close == std::string_view::npos ? text.size() : close + 1;
    } else if (c == '$' && dollarTagLength(text, i) > 0) {
      const size_t len = dollarTagLength(text, i);
      const size_t close = text.find(text.substr(i, len), i + len);
      next = close == std::string_view::npos ? text.size() : close + len;
    } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
      // Comments are dropped: some drivers look for ';' without knowing them.
      const size_t eol = text.find('\n', i);
      i = eol == std::string_view::npos ? text.size() : eol;
      piece.push_back(' ');
      continue;
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      const size_t close = text.find("*/", i + 2);
      i = close == std::string_view::npos ? text.size() : close + 2;
      piece.push_back(' ');
      continue;
    } else if (c == ';' && !inTriggerBody(piece)) {
      cut();
      i = next;
      continue;
    }
    piece.append(text.substr(i, next - i));
    i = next;
  }
  cut();
  return out;
}

bool formatStatement(std::string_view format, va_list args, std::string& out, std::string& error) {
  out.clear();
  out.reserve(format.size() + 64);
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (i + 1 >= format.size()) {
      error = "a lone '%' at the end of the statement";
      return false;
    }
    const char conv = format[++i];
    switch (conv) {
      case '%':
        out.push_back('%');
        break;
      case 'd':
      case 'i':
        out += std::to_string(va_arg(args, int));
        break;
      case 'u':
        out += std::to_string(va_arg(args, unsigned int));
        break;
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text != nullptr) out += text;
        break;
      }
      default:
        error = std::string("unsupported conversion '%") + conv + "' at offset " +
                std::to_string(i - 1);
        return false;
    }
  }
  return true;
}

}  // namespace quor::dataaccess::detail
