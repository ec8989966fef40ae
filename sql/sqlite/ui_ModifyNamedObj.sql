-- Changes a named object's kind, name and content. Arguments: the kind, the
-- name, the content and the object id. The links to entities carry the kind
-- too and the lists select on both, so the links follow the object's kind in
-- the same unit of work: a savepoint is a transaction of its own when the
-- caller has none open and nests inside the caller's otherwise. The links are
-- brought in line for every object whose kind they disagree with, the one
-- just changed and any left behind by earlier changes.
SAVEPOINT modify_named_object;
UPDATE named_objects SET kind = %d, name = '%s', content = '%s' WHERE object_id = %u;
UPDATE entity_named_objects
  SET kind = (SELECT o.kind FROM named_objects o WHERE o.object_id = entity_named_objects.object_id)
  WHERE kind <> (SELECT o.kind FROM named_objects o WHERE o.object_id = entity_named_objects.object_id);
RELEASE modify_named_object
