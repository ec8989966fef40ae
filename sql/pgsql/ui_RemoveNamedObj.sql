WITH q AS(SELECT %u::int i WHERE %u>=0 EXCEPT SELECT action_object_id FROM rules EXCEPT SELECT object_id FROM rule_named_objects),
l AS(DELETE FROM entity_named_objects WHERE object_id IN(SELECT i FROM q)),
m AS(DELETE FROM address_group_members WHERE group_id IN(SELECT i FROM q)),
g AS(DELETE FROM named_objects WHERE object_id IN(SELECT i FROM q)RETURNING 1)
SELECT CASE WHEN EXISTS(SELECT 1 FROM g)THEN 1 WHEN EXISTS(SELECT 1 FROM q)THEN -1 ELSE -2 END AS "retId"
