SELECT entity_id AS EntityID, entity_type AS EntityType, entity_name AS EntityName
FROM entities
ORDER BY entity_id
