-- The members of every address group that is bound to an entity as a sender
-- list, in list order.
SELECT m.group_id AS group_id, m.address AS address
  FROM address_group_members m
 WHERE m.group_id IN (SELECT group_id FROM entity_list_bindings)
 ORDER BY m.group_id, m.position
