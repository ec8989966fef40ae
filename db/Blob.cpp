#include "Blob.h"

#include <cstring>
#include <sstream>
#include <string_view>

namespace {

// The characters the reader skips before a record and trims off lines, in
// the order in which lines are trimmed.
constexpr char kBlank[] = "\r\n\t ";

bool isBlank(char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; }

// Each character kind is stripped once, end first then start, so one that
// comes later in kBlank shields an earlier one behind it.
std::string_view trimLine(std::string_view line) {
  for (const char* c = kBlank; *c != '\0'; ++c) {
    while (!line.empty() && line.back() == *c) line.remove_suffix(1);
    while (!line.empty() && line.front() == *c) line.remove_prefix(1);
  }
  return line;
}

// Formatted stream input of one number. Without a number (or on overflow) the
// variable keeps `fallback`, as formatted input did before it began to
// overwrite the target on failure.
template <class Number>
Number parseNumber(const std::string& text, Number fallback) {
  std::istringstream in(text);
  Number parsed{};
  return (in >> parsed) ? parsed : fallback;
}

bool readEntry(Blob::Fields& fields, const char* key, const std::string*& text) {
  const auto it = fields.find(key);
  if (it == fields.end()) return false;
  text = &it->second;
  return true;
}

}  // namespace

void Blob::writeBlob(std::string& out, const Fields& fields) {
  for (const auto& [key, value] : fields) {
    out.append(key);
    out.push_back('=');
    out.append(value);
    out.append("\r\n");
  }
  out.append("\r\n");
}

bool Blob::readBlob(const char*& cursor, Fields& fields) {
  if (cursor == nullptr) return true;
  const char* pos = cursor;
  while (isBlank(*pos)) ++pos;
  for (;;) {
    const char* lf = std::strchr(pos, '\n');
    // Without a further line end the record is unfinished: keep what was
    // read but leave the caller's cursor alone.
    if (lf == nullptr) return true;
    if (lf == pos) {
      cursor = lf + 1;
      return true;
    }
    std::string_view line(pos, static_cast<size_t>(lf - pos));
    if (line.back() == '\r') line.remove_suffix(1);
    pos = lf + 1;
    line = trimLine(line);
    if (line.empty()) {
      cursor = pos;
      return true;
    }
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      fields.insert_or_assign(std::string(line), std::string(line));
    } else {
      fields.insert_or_assign(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
  }
}

bool Blob::bindBlobField(Fields& fields, const char* key, std::string& value, bool store) {
  if (key == nullptr) return false;
  if (store) {
    fields[key] = value;
    return true;
  }
  const std::string* text = nullptr;
  if (!readEntry(fields, key, text)) return false;
  value = *text;
  return true;
}

bool Blob::bindBlobField(Fields& fields, const char* key, unsigned int& value, bool store) {
  if (key == nullptr) return false;
  if (store) {
    fields[key] = std::to_string(value);
    return true;
  }
  const std::string* text = nullptr;
  if (!readEntry(fields, key, text)) return false;
  value = parseNumber<unsigned int>(*text, 0U);
  return true;
}

bool Blob::bindBlobField(Fields& fields, const char* key, int& value, bool store) {
  if (key == nullptr) return false;
  if (store) {
    fields[key] = std::to_string(value);
    return true;
  }
  const std::string* text = nullptr;
  if (!readEntry(fields, key, text)) return false;
  value = parseNumber<int>(*text, -1);
  return true;
}

bool Blob::bindBlobField(Fields& fields, const char* key, unsigned short& value, bool store) {
  unsigned int wide = value;
  if (!bindBlobField(fields, key, wide, store)) return false;
  value = static_cast<unsigned short>(wide & 0xFFFFU);
  return true;
}

bool Blob::bindBlobField(Fields& fields, const char* key, short& value, bool store) {
  int wide = value;
  if (!bindBlobField(fields, key, wide, store)) return false;
  value = static_cast<short>(static_cast<unsigned int>(wide) & 0xFFFFU);
  return true;
}

bool Blob::bindBlobField(Fields& fields, const char* key, bool& value, bool store) {
  unsigned int wide = value ? 1U : 0U;
  if (!bindBlobField(fields, key, wide, store)) return false;
  value = wide != 0;
  return true;
}

QUOR::Blob::~Blob() = default;

std::string toString(int value) { return std::to_string(value); }
