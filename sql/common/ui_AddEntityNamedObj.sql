INSERT INTO entity_named_objects (entity_id, object_id, kind) VALUES (%u, %u, %d)
