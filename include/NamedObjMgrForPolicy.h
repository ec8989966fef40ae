// NamedObjMgrForPolicy: the raw records of the named objects that one policy
// uses, keyed by identifier, and their serialized text.
//
// The text is a run of ";"-terminated fields in which every text is preceded
// by its length in bytes, so that texts may hold any character, ";"
// included:
//   <count>;<tag>;  then per record, in ascending identifier order:
//   <id>;<kind>;<length of text2>;<text2>;<length of text1>;<text1>;
// A reader takes a number up to ";", and for a text exactly as many bytes as
// its length gives, followed by ";". <count> counts every entry, also those
// whose record pointer is null, which write nothing else.
//
// Ownership: the manager does not own the records. They belong to the
// master manager of named objects and must outlive this object and must not
// change while serialize runs.
//
// Thread safety: none. One thread builds and serializes a manager.
#ifndef QUORPOLICY_INCLUDE_NAMEDOBJMGRFORPOLICY_H_
#define QUORPOLICY_INCLUDE_NAMEDOBJMGRFORPOLICY_H_

#include <cstdint>
#include <map>
#include <string>

#include "QuorExport.h"

// The scanner-side master manager of named objects; this library only reads
// its raw records.
class MasterNamedObjMgr {
 public:
  // One named object as the master manager holds it. `text2` is written
  // before `text1`.
  struct _rawNamedObjectData {
    std::int32_t kind = 0;
    std::string text1;
    std::string text2;
  };
};

class QUORPOLICY_API NamedObjMgrForPolicy {
 public:
  NamedObjMgrForPolicy() = default;
  NamedObjMgrForPolicy(const NamedObjMgrForPolicy&) = default;
  NamedObjMgrForPolicy& operator=(const NamedObjMgrForPolicy&) = default;
  ~NamedObjMgrForPolicy() = default;

  // Sets the record of `id`, replacing an earlier pointer for the same id.
  // `data` may be null; it is not owned.
  void insert(unsigned int id, const MasterNamedObjMgr::_rawNamedObjectData* data);

  // Replaces `out` with the serialized text. Always returns true.
  bool serialize(std::string& out);

  // Set by the owner before serializing; written as the second field.
  std::int32_t tag = 0;

 private:
  // True exactly for ";", the field terminator of the serialized text.
  static bool CheckDelimiter(char c);

  std::map<std::uint32_t, const MasterNamedObjMgr::_rawNamedObjectData*> _objects;
};

#endif  // QUORPOLICY_INCLUDE_NAMEDOBJMGRFORPOLICY_H_
