-- Creates an address group (kind 5). Arguments: the administrator whose
-- entities the group is linked to, the name, an entity to link it to as well
-- (0 for none), and the member list "<mas><ma>address</ma>...</mas>", which is
-- kept as the content and split into address_group_members.
CREATE TEMP TABLE IF NOT EXISTS address_group_request
  (admin_id integer, name text, entity_id integer, members text, group_id integer);
DELETE FROM address_group_request;
INSERT INTO address_group_request (admin_id, name, entity_id, members) VALUES (%u, '%s', %u, '%s');
WITH obj AS (INSERT INTO named_objects (kind, name, content)
             SELECT 5, name, members FROM address_group_request RETURNING object_id)
UPDATE address_group_request SET group_id = (SELECT object_id FROM obj);
INSERT INTO entity_named_objects (entity_id, object_id, kind)
  SELECT a.entity_id, r.group_id, 5 FROM admin_entities a, address_group_request r WHERE a.admin_id = r.admin_id
  UNION
  SELECT r.entity_id, r.group_id, 5 FROM address_group_request r WHERE r.entity_id <> 0;
INSERT INTO address_group_members (group_id, position, address)
  SELECT r.group_id, t.ord, t.m[1]
  FROM address_group_request r, regexp_matches(r.members, '<ma>(.*?)</ma>', 'g') WITH ORDINALITY AS t(m, ord)
