-- Removes a named object with its entity links and members, unless a rule
-- refers to it. retId: 1 removed, -1 no such object, -2 a rule refers to it.
CREATE TEMP TABLE IF NOT EXISTS remove_request (object_id INTEGER, admin_id INTEGER);
DELETE FROM remove_request;
INSERT INTO remove_request (object_id, admin_id) VALUES (%u, %u);
CREATE TEMP VIEW IF NOT EXISTS remove_in_use AS
  SELECT 1 AS used FROM rules r, remove_request q WHERE r.action_object_id = q.object_id
  UNION ALL
  SELECT 1 AS used FROM rule_named_objects n, remove_request q WHERE n.object_id = q.object_id;
DELETE FROM entity_named_objects
  WHERE object_id IN (SELECT object_id FROM remove_request) AND NOT EXISTS (SELECT 1 FROM remove_in_use);
DELETE FROM address_group_members
  WHERE group_id IN (SELECT object_id FROM remove_request) AND NOT EXISTS (SELECT 1 FROM remove_in_use);
DELETE FROM named_objects
  WHERE object_id IN (SELECT object_id FROM remove_request) AND NOT EXISTS (SELECT 1 FROM remove_in_use);
SELECT CASE WHEN EXISTS (SELECT 1 FROM remove_in_use) THEN -2
            WHEN changes() > 0 THEN 1
            ELSE -1 END AS retId
