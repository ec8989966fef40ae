-- Creates an address group (kind 5). Arguments: the administrator whose
-- entities the group is linked to, the name, an entity to link it to as well
-- (0 for none), and the member list "<mas><ma>address</ma>...</mas>", which is
-- kept as the content and split into address_group_members.
-- One statement makes the group, its links and its members, so a failure
-- anywhere leaves none of them, whether or not the caller has a transaction
-- open. The foreign keys are checked when the whole statement has run.
WITH request (admin_id, name, entity_id, members) AS (VALUES (%u, '%s', %u, '%s')),
made AS (
  INSERT INTO named_objects (kind, name, content) SELECT 5, name, members FROM request
  RETURNING object_id AS group_id),
links AS (
  INSERT INTO entity_named_objects (entity_id, object_id, kind)
    SELECT a.entity_id, g.group_id, 5 FROM admin_entities a, request r, made g WHERE a.admin_id = r.admin_id
    UNION
    SELECT r.entity_id, g.group_id, 5 FROM request r, made g WHERE r.entity_id <> 0)
INSERT INTO address_group_members (group_id, position, address)
  SELECT g.group_id, t.ord, t.m[1]
  FROM made g, request r, regexp_matches(r.members, '<ma>(.*?)</ma>', 'g') WITH ORDINALITY AS t(m, ord)
