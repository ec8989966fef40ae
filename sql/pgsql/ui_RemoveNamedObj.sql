-- Removes a named object with its entity links and members, unless a rule
-- refers to it. retId: 1 removed, -1 no such object, -2 a rule refers to it.
WITH req AS (SELECT %u::integer AS object_id, %u::integer AS admin_id),
in_use AS (
  SELECT 1 FROM rules r JOIN req ON r.action_object_id = req.object_id
  UNION ALL
  SELECT 1 FROM rule_named_objects n JOIN req ON n.object_id = req.object_id),
links AS (
  DELETE FROM entity_named_objects l USING req
  WHERE l.object_id = req.object_id AND NOT EXISTS (SELECT 1 FROM in_use) RETURNING 1),
members AS (
  DELETE FROM address_group_members m USING req
  WHERE m.group_id = req.object_id AND NOT EXISTS (SELECT 1 FROM in_use) RETURNING 1),
gone AS (
  DELETE FROM named_objects o USING req
  WHERE o.object_id = req.object_id AND NOT EXISTS (SELECT 1 FROM in_use) RETURNING 1)
SELECT CASE WHEN EXISTS (SELECT 1 FROM in_use) THEN -2
            WHEN EXISTS (SELECT 1 FROM gone) THEN 1
            ELSE -1 END AS "retId"
