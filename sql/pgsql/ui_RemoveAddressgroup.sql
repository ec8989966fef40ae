-- Deletes an address group (kind 5) with its members and entity links,
-- unless a rule refers to it. Argument: the group id.
-- One statement deletes all three, so a failure anywhere deletes nothing,
-- whether or not the caller has a transaction open. The foreign keys are
-- checked when the whole statement has run.
WITH removal AS (
  SELECT object_id AS group_id FROM named_objects
  WHERE object_id = %u AND kind = 5
    AND object_id NOT IN (SELECT action_object_id FROM rules WHERE action_object_id IS NOT NULL)
    AND object_id NOT IN (SELECT object_id FROM rule_named_objects)),
members AS (DELETE FROM address_group_members WHERE group_id IN (SELECT group_id FROM removal)),
links AS (DELETE FROM entity_named_objects WHERE object_id IN (SELECT group_id FROM removal))
DELETE FROM named_objects WHERE object_id IN (SELECT group_id FROM removal)
