-- Binds an address group to an entity as a sender list. Arguments: entity
-- id, group id, membership name, position twice (negative: after the
-- entity's last list), entity id.
INSERT INTO entity_list_bindings (entity_id, group_id, membership, position)
SELECT %u, %u, '%s', CASE WHEN %d >= 0 THEN %d ELSE COALESCE(MAX(position) + 1, 0) END
  FROM entity_list_bindings WHERE entity_id = %u
