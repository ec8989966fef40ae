SELECT e.entity_id AS EntityID, e.entity_type AS EntityType, e.entity_name AS EntityName
FROM admin_entities a JOIN entities e ON e.entity_id = a.entity_id
WHERE a.admin_id = %u
ORDER BY a.position, e.entity_id
