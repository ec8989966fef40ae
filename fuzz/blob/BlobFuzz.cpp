// Fuzz target for the blob text.
//
// 1. Blob::readBlob on the input as a NUL-terminated text never reads past
//    the terminating NUL (the text sits in an exactly sized buffer), and
//    leaves the cursor either where it was or inside the text, at most just
//    past its last character.
// 2. A map built from the input (pieces separated by 0x01, alternately keys
//    and values), cleaned of what the format cannot carry (no "=" in keys, no
//    CR or LF anywhere, no key beginning and no value ending with CR, LF, TAB
//    or a blank, no NUL), reads back equal after Blob::writeBlob, with the
//    cursor just past the record, or unmoved for an empty map, which is
//    written as a lone line end that the reader skips.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Blob.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "blob fuzz invariant broken: %s\n", what);
  std::abort();
}

// Drops what the format cannot carry; CR and LF are gone before the blanks
// are trimmed.
std::string clean(const std::string& piece, bool isKey) {
  std::string out;
  for (char c : piece) {
    if (c != '\r' && c != '\n' && c != '\0' && !(isKey && c == '=')) out.push_back(c);
  }
  if (isKey) return out.erase(0, out.find_first_not_of("\t "));
  return out.erase(out.find_last_not_of("\t ") + 1);
}

void checkReaderBounds(const std::uint8_t* data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const char* begin = text.data();
  const char* end = begin + std::strlen(begin);
  const char* cursor = begin;
  std::map<std::string, std::string> fields;
  if (!Blob::readBlob(cursor, fields)) fail("readBlob returned false");
  if (cursor < begin || cursor > end) fail("cursor left the text");
  // A record ends with a line end, so a moved cursor stands just past an LF.
  if (cursor != begin && cursor[-1] != '\n') fail("cursor not just past a line end");
}

void checkRoundTrip(const std::uint8_t* data, size_t size) {
  std::map<std::string, std::string> fields;
  std::string piece, key;
  bool wantKey = true;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != 0x01) {
      piece.push_back(static_cast<char>(data[i]));
      continue;
    }
    if (wantKey) {
      key = clean(piece, true);
    } else {
      fields[key] = clean(piece, false);
    }
    wantKey = !wantKey;
    piece.clear();
  }
  std::string text;
  Blob::writeBlob(text, fields);
  const char* cursor = text.c_str();
  std::map<std::string, std::string> back;
  Blob::readBlob(cursor, back);
  if (back != fields) fail("map did not read back equal");
  const char* want = fields.empty() ? text.c_str() : text.c_str() + text.size();
  if (cursor != want) fail("cursor not just past the record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  checkReaderBounds(data, size);
  checkRoundTrip(data, size);
  return 0;
}
