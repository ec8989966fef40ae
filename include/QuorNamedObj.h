// QuorNamedObj: named policy objects (address groups, quarantine areas and
// other kinds), stored in the policy database as a kind, a name and a content
// text and linked to the entities of the administrators who made them.
//
// The static operations create, change and read objects, decide which objects
// an administrator sees, may edit and may delete, and remove them.
// AddressGroup adds the address-group statements; QuarantineData carries one
// quarantine area with its content.
//
// Ownership: operations taking an RdbmsInterface run their statements on the
// caller's unit of work and never start or end a transaction; the
// address-group operations and getOPPQuarantineArea use a unit of work of
// their own. Output containers are appended to, never cleared.
//
// Thread safety: no operation keeps state between calls. getIds and
// getEditableQuanantineData for an administrator with wildcard entities build
// pattern trees (see EntityUtils.h) and must not run concurrently with another
// such call or with the building of a tree made with makeNewTree.
#ifndef QUORPOLICY_INCLUDE_QUORNAMEDOBJ_H_
#define QUORPOLICY_INCLUDE_QUORNAMEDOBJ_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "QuorErrC.h"
#include "QuorExport.h"

// One named object as one administrator sees it.
struct QUORPOLICY_API SummaryNamedObject {
  std::uint32_t id = 0;
  bool editable = false;
  bool deletable = false;
  std::string name;
};

// One quarantine area with its content text as stored.
struct QUORPOLICY_API QuarantineData {
  std::uint32_t id = 0;
  std::string name;
  std::string content;
  bool editable = false;
};

class QUORPOLICY_API QuorNamedObj {
 public:
  using RdbmsInterface = QUOR::RdbmsInterface;

  // The kind of a named object; other values are stored and passed through.
  enum NaObjType : std::uint32_t {
    QuarantineArea = 3,
    AddressGroupList = 5,
  };

  QuorNamedObj() = default;
  QuorNamedObj(const QuorNamedObj&) = default;
  QuorNamedObj& operator=(const QuorNamedObj&) { return *this; }
  virtual ~QuorNamedObj();

  // Writes the object's state as the content text of its kind.
  virtual bool toContent(std::string& content) const = 0;
  // Reads the object's state back from a content text of its kind.
  virtual bool fromContent(const char* content) = 0;
  virtual NaObjType getType() const = 0;

  // Creates an object and links it to every entity of administrator
  // `adminId`. False when the administrator has no entities (objectId is then
  // not written), when creation fails (objectId is 0xFFFFFFFF) or linking
  // fails. A failed link leaves the object behind.
  static bool add(RdbmsInterface& db, unsigned adminId, const char* name, const char* content,
                  NaObjType type, unsigned& objectId);
  // Creates the object; its new id, or 0xFFFFFFFF (logged). Name and content
  // of any length are stored unchanged.
  static unsigned addObj(RdbmsInterface& db, const char* name, const char* content, NaObjType type);
  // Links the object to each entity, one statement per entity, in order.
  // False when the data-access library threw; links made before stay.
  static bool addEntityNamedObjIds(RdbmsInterface& db, unsigned objectId, NaObjType type,
                                   std::vector<GroupEntity>& entities);
  // Changes name, content and kind of `objectId`; adminId is not used.
  static bool modify(RdbmsInterface& db, unsigned objectId, unsigned adminId, const char* name,
                     const char* content, NaObjType type);
  // 0, or 0xFFFFFFFF when the data-access library threw. Without a connection
  // nothing runs and the result is 0.
  static unsigned modifyObj(RdbmsInterface& db, const char* name, const char* content,
                            NaObjType type, unsigned objectId);
  // Reads content and name of `objectId`. False (logged) when there is no
  // row or the content is NULL; a NULL name leaves `name` unchanged.
  static bool getBlob(RdbmsInterface& db, unsigned objectId, std::string& content,
                      std::string& name);
  static bool getContentBlob(RdbmsInterface& db, unsigned objectId, std::string& content,
                             std::string& name);
  // Does nothing and returns true.
  static bool test(unsigned, std::string&, std::string&);

  // Appends the objects of kind `type` that administrator `adminId` sees,
  // sorted by name ignoring ASCII case (the root administrator: all, in the
  // database's order, all editable). Objects named "OPP:..." are never
  // listed. False (logged) when a query or the hierarchy work fails;
  // `summaries` may then hold part of a list.
  static bool getIds(RdbmsInterface& db, unsigned adminId, NaObjType type,
                     std::vector<SummaryNamedObject>& summaries);
  // True when the administrator is root, or every entity of the object is one
  // of the administrator's own entities (children do not count here).
  static bool isEditable(RdbmsInterface& db, unsigned adminId, unsigned objectId);
  // Appends the ids of the entities the object is linked to.
  static bool getEntityIds(RdbmsInterface& db, std::vector<unsigned>& ids, unsigned objectId);
  // Removes the object for the administrator: 0 removed; 6025 a rule refers
  // to it (asked first); 6024 not editable by the administrator; 6022/6023
  // the removal statement refused it (-1/-2); 1003 no connection, no answer
  // row, or the data-access library threw.
  static QuorErrC remove(RdbmsInterface& db, unsigned objectId, unsigned adminId);

  // The administrator's quarantine areas with their content, followed by the
  // shared area whose name begins with "OPP:" (never editable) when there is
  // one. False when the list or a content could not be read.
  static bool getEditableQuanantineData(RdbmsInterface& db, unsigned int adminId,
                                        std::vector<QuarantineData>& areas);
  // Fills id, name and content of the first readable area whose name begins
  // with "OPP:" (editable is not touched), read on a unit of work of its own.
  // 1002 when there is none or its ID is unreadable; 1003 when the
  // data-access library threw.
  static QuorErrC getOPPQuarantineArea(RdbmsInterface& db, QuarantineData& area);

 private:
  // One object while a list is built: its name and the linked entity ids not
  // yet accounted for.
  struct _nameAndEntities {
    std::string name;
    std::set<unsigned> entityIds;
  };
  using ObjectMap = std::map<unsigned, _nameAndEntities>;

  static bool _getNamedObjIds(RdbmsInterface& db, std::map<unsigned, _nameAndEntities>& objects,
                              NaObjType type, std::vector<SummaryNamedObject>* summaries);
  static void _addDirRefNamedObjIds(std::vector<GroupEntity>& entities,
                                    std::map<unsigned, _nameAndEntities>& objects,
                                    std::vector<SummaryNamedObject>& summaries);
  static bool _addIndirRefNamedObjIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                      std::map<unsigned, _nameAndEntities>& objects,
                                      std::vector<SummaryNamedObject>& summaries);
  static bool _addRelatedWildcardIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                     std::map<unsigned, _nameAndEntities>& objects,
                                     std::vector<SummaryNamedObject>& summaries);
  static bool _addRelatedLdapIds(RdbmsInterface& db, std::vector<GroupEntity>& entities,
                                 std::map<unsigned, _nameAndEntities>& objects,
                                 std::vector<SummaryNamedObject>& summaries);
  static void _addChildrenNamedObjs(std::set<GroupEntity, GroupEntityCmp>& found,
                                    std::map<unsigned, _nameAndEntities>& objects,
                                    std::vector<SummaryNamedObject>& summaries);
  static void _addParentNamedObjs(std::set<GroupEntity, GroupEntityCmp>& found,
                                  std::map<unsigned, _nameAndEntities>& objects,
                                  std::vector<SummaryNamedObject>& summaries);
  static void _updateEditableIds(const SummaryNamedObject& summary,
                                 std::vector<SummaryNamedObject>& summaries);
  static bool _isDeletability(RdbmsInterface& db, unsigned objectId);
};
static_assert(sizeof(QuorNamedObj::NaObjType) == 4);

// The address-group kind (5): a named object holding a list of e-mail
// addresses. Each static operation uses a unit of work of its own; failures
// of the data-access library are logged and give 0.
class QUORPOLICY_API AddressGroup : public QuorNamedObj {
 public:
  struct AddressGroupMember {
    std::uint32_t tag = 0;  // 0 when read from the database; not used here
    std::string address;
  };

  AddressGroup() = default;
  AddressGroup(const AddressGroup&) = default;
  AddressGroup& operator=(const AddressGroup&) = default;
  ~AddressGroup() override;

  NaObjType getType() const override;

  // Creates a group. The two numbers go to the statement unchanged, before
  // and after the name. 4008 when the statement buffer cannot be allocated.
  static QuorErrC addAddressGroup(unsigned int first, const char* groupName, unsigned int second,
                                  std::vector<AddressGroupMember>& members);
  // Replaces name and members of `groupId`. 4008 as above.
  static QuorErrC modifyAddressGroup(unsigned int groupId, const char* groupName,
                                     std::vector<AddressGroupMember>& members);
  // Appends the members of `groupId` with tag 0. 6003 (logged) when a member
  // address is NULL; members appended before stay.
  static QuorErrC getAddressGroupMembersByID(unsigned int groupId,
                                             std::vector<AddressGroupMember>& members);
  static QuorErrC deleteAddressGroupByID(unsigned int groupId);
};

#endif  // QUORPOLICY_INCLUDE_QUORNAMEDOBJ_H_
