-- Replaces name and members of an address group (kind 5). Arguments: the
-- group id, the name and the member list "<mas><ma>address</ma>...</mas>".
-- One statement changes the group and its members, so a failure anywhere
-- changes nothing, whether or not the caller has a transaction open. The new
-- members take the positions of the old ones: they are inserted only once
-- the old ones are deleted (the insert waits for the count of deleted rows).
WITH request (group_id, name, members) AS (VALUES (%u, '%s', '%s')),
change AS (
  SELECT r.group_id, r.name, r.members FROM request r
  WHERE r.group_id IN (SELECT object_id FROM named_objects WHERE kind = 5)),
renamed AS (
  UPDATE named_objects o SET name = c.name, content = c.members
  FROM change c WHERE o.object_id = c.group_id),
cleared AS (
  DELETE FROM address_group_members m USING change c WHERE m.group_id = c.group_id RETURNING 1)
INSERT INTO address_group_members (group_id, position, address)
  SELECT c.group_id, t.ord, t.m[1]
  FROM change c, regexp_matches(c.members, '<ma>(.*?)</ma>', 'g') WITH ORDINALITY AS t(m, ord)
  WHERE (SELECT count(*) FROM cleared) >= 0
