SELECT entity_id AS EntityID FROM entity_named_objects WHERE object_id = %u ORDER BY entity_id
