SELECT entity_id AS EntityID, entity_name AS EntityName
FROM entities
WHERE entity_type = %d
ORDER BY entity_id
