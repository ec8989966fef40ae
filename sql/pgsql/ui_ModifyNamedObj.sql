-- Changes a named object's kind, name and content. Arguments: the kind, the
-- name, the content and the object id. The links to entities carry the kind
-- too and the lists select on both, so the links follow the object's kind.
-- One statement changes both tables, so the change is atomic whether or not
-- the caller has a transaction open.
WITH changed AS (
  UPDATE named_objects SET kind = %d, name = '%s', content = '%s' WHERE object_id = %u
  RETURNING object_id, kind)
UPDATE entity_named_objects l SET kind = c.kind
  FROM changed c WHERE l.object_id = c.object_id AND l.kind <> c.kind
