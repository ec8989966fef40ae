INSERT INTO named_objects (kind, name, content) VALUES (%d, '%s', '%s')
RETURNING object_id AS "objectId"
