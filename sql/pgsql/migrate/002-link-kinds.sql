-- Version 2: the entity links of a named object carry the object's kind.
-- Changing an object's kind used to change only the object, which hid it
-- from every administrator's list; this repairs the links such changes left
-- behind. The version itself is recorded by `quorpolicy upgrade`.
UPDATE entity_named_objects
   SET kind = (SELECT n.kind FROM named_objects n WHERE n.object_id = entity_named_objects.object_id)
 WHERE kind <> (SELECT n.kind FROM named_objects n WHERE n.object_id = entity_named_objects.object_id);
