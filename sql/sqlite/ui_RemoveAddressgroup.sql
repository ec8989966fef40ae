-- Deletes an address group (kind 5) with its members and entity links,
-- unless a rule refers to it. Argument: the group id.
CREATE TEMP TABLE IF NOT EXISTS address_group_removal (group_id INTEGER);
DELETE FROM address_group_removal;
INSERT INTO address_group_removal (group_id) VALUES (%u);
DELETE FROM address_group_removal
  WHERE group_id NOT IN (SELECT object_id FROM named_objects WHERE kind = 5)
     OR group_id IN (SELECT action_object_id FROM rules WHERE action_object_id IS NOT NULL)
     OR group_id IN (SELECT object_id FROM rule_named_objects);
DELETE FROM address_group_members WHERE group_id IN (SELECT group_id FROM address_group_removal);
DELETE FROM entity_named_objects WHERE object_id IN (SELECT group_id FROM address_group_removal);
DELETE FROM named_objects WHERE object_id IN (SELECT group_id FROM address_group_removal)
