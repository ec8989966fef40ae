SELECT object_id AS ID, name AS Name, content AS Content
FROM named_objects
WHERE kind = %d
ORDER BY object_id
