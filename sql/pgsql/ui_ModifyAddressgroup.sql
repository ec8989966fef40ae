-- Replaces name and members of an address group (kind 5). Arguments: the
-- group id, the name and the member list "<mas><ma>address</ma>...</mas>".
CREATE TEMP TABLE IF NOT EXISTS address_group_change (group_id integer, name text, members text);
DELETE FROM address_group_change;
INSERT INTO address_group_change (group_id, name, members)
  SELECT %u, '%s', '%s';
DELETE FROM address_group_change
  WHERE group_id NOT IN (SELECT object_id FROM named_objects WHERE kind = 5);
UPDATE named_objects o SET name = c.name, content = c.members
  FROM address_group_change c WHERE o.object_id = c.group_id;
DELETE FROM address_group_members m USING address_group_change c WHERE m.group_id = c.group_id;
INSERT INTO address_group_members (group_id, position, address)
  SELECT c.group_id, t.ord, t.m[1]
  FROM address_group_change c, regexp_matches(c.members, '<ma>(.*?)</ma>', 'g') WITH ORDINALITY AS t(m, ord)
