SELECT action_object_id AS NamedObjID FROM rules
WHERE action_object_id IN (SELECT object_id FROM named_objects WHERE kind = %d)
UNION
SELECT object_id AS NamedObjID FROM rule_named_objects
WHERE object_id IN (SELECT object_id FROM named_objects WHERE kind = %d)
