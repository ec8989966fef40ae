// Blob: a key/value map as a line-oriented text, and typed variables bound
// to entries of such a map.
//
// The blob text: one line "key=value" CR LF per entry, in ascending byte-wise
// key order, then one empty line (CR LF) that ends the record. Nothing is
// escaped or quoted, so a key holding "=" or a key or value holding a line
// break does not read back as written, nor does a key that begins or a value
// that ends with CR, LF, TAB or a blank.
//
// The reader is tolerant: lines may end with LF alone, the record may be
// preceded by CR, LF, TAB and blanks, and a line that trims to nothing ends
// the record as an empty line does. Each line loses CR, LF, TAB and blanks
// at both ends, in that order, one character kind at a time: a line that
// starts with a blank and then a TAB keeps the TAB, and a line of blank, TAB,
// blank is the one-character line TAB.
//
// QUOR::Blob is an unrelated small value class of five 32-bit fields.
//
// Thread safety: the static operations keep no state; callers own the maps
// and texts they pass.
#ifndef QUORPOLICY_INCLUDE_BLOB_H_
#define QUORPOLICY_INCLUDE_BLOB_H_

#include <cstdint>
#include <map>
#include <string>

#include "QuorExport.h"

class QUORPOLICY_API Blob {
 public:
  using Fields = std::map<std::string, std::string>;

  // Appends the record of `fields` to `out`, which is not cleared first. An
  // empty map is written as CR LF alone.
  static void writeBlob(std::string& out, const Fields& fields);

  // Reads one record of the NUL-terminated text at `cursor` into `fields`
  // (not cleared first; a later line replaces an earlier value of the same
  // key). Always returns true. When the record ends with an empty or blank
  // line, `cursor` is left just past it; when the text ends first (no further
  // LF), `cursor` is left where the caller had it, the entries read so far
  // stay in `fields`, and text after the last LF is ignored. A line without
  // "=" gives an entry whose key and value are both the whole line. A null
  // `cursor` reads nothing.
  static bool readBlob(const char*& cursor, Fields& fields);

  // With `store`, writes `value` as decimal text (strings as they are, bool as
  // "0" or "1") under `key` and returns true. Without `store`, returns false
  // and leaves `value` alone when `key` is absent; otherwise reads the entry
  // into `value` and returns true. Numbers are read like formatted stream
  // input (leading blanks skipped, reading stops at the first character that
  // cannot continue the number); text without a number reads as 0 for the
  // unsigned types and false, and as -1 for the signed ones. The 16-bit types
  // keep the low 16 bits of what was read. A null `key` binds nothing and
  // returns false.
  static bool bindBlobField(Fields& fields, const char* key, unsigned short& value, bool store);
  static bool bindBlobField(Fields& fields, const char* key, unsigned int& value, bool store);
  static bool bindBlobField(Fields& fields, const char* key, int& value, bool store);
  static bool bindBlobField(Fields& fields, const char* key, bool& value, bool store);
  static bool bindBlobField(Fields& fields, const char* key, std::string& value, bool store);
  static bool bindBlobField(Fields& fields, const char* key, short& value, bool store);

  Blob() = delete;
};

namespace QUOR {

// Five 32-bit fields whose meaning belongs to the gateway's common library.
// The constructors set the first three as given below and the last two
// to 0; copies copy all five.
class QUORPOLICY_API Blob {
 public:
  // All fields 0.
  Blob() = default;
  // `value` (narrowed to 32 bits) in the first field, 0 in the others.
  Blob(long value) : field1(static_cast<std::int32_t>(value)) {}
  Blob(const Blob&) = default;
  Blob& operator=(const Blob&) = default;
  virtual ~Blob();

  std::int32_t field1 = 0;
  std::int32_t field2 = 0;
  std::int32_t field3 = 0;
  std::int32_t field4 = 0;
  std::int32_t field5 = 0;
};

}  // namespace QUOR

// The decimal text of `value`, with a leading "-" when it is negative.
QUORPOLICY_API std::string toString(int value);

#endif  // QUORPOLICY_INCLUDE_BLOB_H_
