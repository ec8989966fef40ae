-- Creates an address group (kind 5). Arguments: the administrator whose
-- entities the group is linked to, the name, an entity to link it to as well
-- (0 for none), and the member list "<mas><ma>address</ma>...</mas>", which is
-- kept as the content and split into address_group_members.
-- The savepoint makes the group, its links and its members one unit: when a
-- statement fails, the data-access layer rolls back to it, so none of them
-- is left. It is a transaction of its own when the caller has none open and
-- nests inside the caller's otherwise. The first statement on the policy
-- tables writes them, so that it waits for another connection's write lock
-- (a unit that read first would fail at once when it came to write).
SAVEPOINT add_address_group;
CREATE TEMP TABLE IF NOT EXISTS address_group_request
  (admin_id INTEGER, name TEXT, entity_id INTEGER, members TEXT, group_id INTEGER);
DELETE FROM address_group_request;
INSERT INTO address_group_request (admin_id, name, entity_id, members) VALUES (%u, '%s', %u, '%s');
INSERT INTO named_objects (kind, name, content) SELECT 5, name, members FROM address_group_request;
UPDATE address_group_request SET group_id = last_insert_rowid();
INSERT INTO entity_named_objects (entity_id, object_id, kind)
  SELECT a.entity_id, r.group_id, 5 FROM admin_entities a, address_group_request r WHERE a.admin_id = r.admin_id
  UNION
  SELECT r.entity_id, r.group_id, 5 FROM address_group_request r WHERE r.entity_id <> 0;
INSERT INTO address_group_members (group_id, position, address)
  WITH RECURSIVE split (position, address, rest) AS (
    SELECT 0, NULL, substr(members, 6, length(members) - 11) FROM address_group_request
    UNION ALL
    SELECT position + 1, substr(rest, 5, instr(rest, '</ma>') - 5), substr(rest, instr(rest, '</ma>') + 5)
    FROM split WHERE substr(rest, 1, 4) = '<ma>' AND instr(rest, '</ma>') > 0)
  SELECT r.group_id, s.position, s.address FROM split s, address_group_request r WHERE s.position > 0;
RELEASE add_address_group
