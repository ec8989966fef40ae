CREATE TEMP TABLE IF NOT EXISTS rm(id);
DELETE FROM rm;
INSERT INTO rm SELECT %u WHERE %u>=0;
DELETE FROM rm WHERE id IN(SELECT action_object_id FROM rules UNION SELECT object_id FROM rule_named_objects);
DELETE FROM entity_named_objects WHERE object_id IN rm;
DELETE FROM address_group_members WHERE group_id IN rm;
DELETE FROM named_objects WHERE object_id IN rm;
SELECT CASE WHEN changes()>0 THEN 1 WHEN EXISTS(SELECT 1 FROM rm)THEN -1 ELSE -2 END AS retId
