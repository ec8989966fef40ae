-- The sender-list bindings with their entity and group, in decision order
-- within each entity. Arguments: an entity id twice (0: every entity).
SELECT b.entity_id AS entity_id, e.entity_name AS entity_name, e.entity_type AS entity_type,
       b.group_id AS group_id, n.name AS group_name, b.membership AS membership,
       b.position AS position
  FROM entity_list_bindings b
  JOIN entities e ON e.entity_id = b.entity_id
  JOIN named_objects n ON n.object_id = b.group_id
 WHERE %u = 0 OR b.entity_id = %u
 ORDER BY b.entity_id, b.position, b.group_id, b.membership
