-- Replaces name and members of an address group (kind 5). Arguments: the
-- group id, the name and the member list "<mas><ma>address</ma>...</mas>".
-- The savepoint makes the change of the group and of its members one unit:
-- when a statement fails, the data-access layer rolls back to it, so nothing
-- is changed. It is a transaction of its own when the caller has none open
-- and nests inside the caller's otherwise. The first statement on the policy
-- tables writes them, so that it waits for another connection's write lock
-- (a unit that read first would fail at once when it came to write).
SAVEPOINT modify_address_group;
CREATE TEMP TABLE IF NOT EXISTS address_group_change (group_id INTEGER, name TEXT, members TEXT);
DELETE FROM address_group_change;
INSERT INTO address_group_change (group_id, name, members)
  SELECT %u, '%s', '%s';
UPDATE named_objects
  SET name = (SELECT name FROM address_group_change), content = (SELECT members FROM address_group_change)
  WHERE object_id IN (SELECT group_id FROM address_group_change) AND kind = 5;
DELETE FROM address_group_change
  WHERE group_id NOT IN (SELECT object_id FROM named_objects WHERE kind = 5);
DELETE FROM address_group_members WHERE group_id IN (SELECT group_id FROM address_group_change);
INSERT INTO address_group_members (group_id, position, address)
  WITH RECURSIVE split (position, address, rest) AS (
    SELECT 0, NULL, substr(members, 6, length(members) - 11) FROM address_group_change
    UNION ALL
    SELECT position + 1, substr(rest, 5, instr(rest, '</ma>') - 5), substr(rest, instr(rest, '</ma>') + 5)
    FROM split WHERE substr(rest, 1, 4) = '<ma>' AND instr(rest, '</ma>') > 0)
  SELECT c.group_id, s.position, s.address FROM split s, address_group_change c WHERE s.position > 0;
RELEASE modify_address_group
