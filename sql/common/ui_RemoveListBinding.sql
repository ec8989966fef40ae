-- Removes the bindings of a group to an entity. Arguments: entity id, group
-- id, membership name twice (empty: every membership).
DELETE FROM entity_list_bindings
 WHERE entity_id = %u AND group_id = %u AND ('%s' = '' OR membership = '%s')
