-- Deletes an address group (kind 5) with its members and entity links,
-- unless a rule refers to it. Argument: the group id.
-- The savepoint makes the three deletions one unit: when a statement fails,
-- the data-access layer rolls back to it, so nothing is deleted. It is a
-- transaction of its own when the caller has none open and nests inside the
-- caller's otherwise. Every statement on the policy tables writes them, the
-- first one included, so that it waits for another connection's write lock
-- (a unit that read first would fail at once when it came to write); the
-- view holds the test of whether the group may go.
SAVEPOINT remove_address_group;
CREATE TEMP TABLE IF NOT EXISTS address_group_removal (group_id INTEGER);
CREATE TEMP VIEW IF NOT EXISTS address_group_removable AS
  SELECT group_id FROM address_group_removal
  WHERE group_id IN (SELECT object_id FROM named_objects WHERE kind = 5)
    AND group_id NOT IN (SELECT action_object_id FROM rules WHERE action_object_id IS NOT NULL)
    AND group_id NOT IN (SELECT object_id FROM rule_named_objects);
DELETE FROM address_group_removal;
INSERT INTO address_group_removal (group_id) VALUES (%u);
DELETE FROM address_group_members WHERE group_id IN (SELECT group_id FROM address_group_removable);
DELETE FROM entity_named_objects WHERE object_id IN (SELECT group_id FROM address_group_removable);
DELETE FROM named_objects WHERE object_id IN (SELECT group_id FROM address_group_removable);
RELEASE remove_address_group
