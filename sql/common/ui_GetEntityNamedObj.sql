SELECT l.entity_id AS EntityID, o.object_id AS NamedObjID, o.name AS Name
FROM named_objects o JOIN entity_named_objects l ON l.object_id = o.object_id
WHERE o.kind = %d AND l.kind = %d
ORDER BY o.object_id, l.entity_id
