INSERT INTO named_objects (kind, name, content) VALUES (%d, '%s', '%s');
SELECT last_insert_rowid() AS objectId
