-- Version 3: sender lists bound to entities, and the policy version. The
-- triggers that count changes come with version 5, which records what each
-- change touched as well. The version itself is recorded by
-- `quorpolicy upgrade`.

-- Sender lists of entities: address group `group_id` is a list of entity
-- `entity_id` with one membership (the names of list files), at `position`
-- among the entity's lists. Removing the entity or the group removes its
-- bindings (by the triggers below: foreign keys are not enforced here).
CREATE TABLE entity_list_bindings (
  entity_id  INTEGER NOT NULL REFERENCES entities (entity_id) ON DELETE CASCADE,
  group_id   INTEGER NOT NULL REFERENCES named_objects (object_id) ON DELETE CASCADE,
  membership TEXT    NOT NULL CHECK (membership IN ('nonoverrideable-white',
               'nonoverrideable-black', 'overrideable-black', 'overrideable-white',
               'white-subtraction', 'black-subtraction')),
  position   INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (entity_id, group_id, membership)
);
CREATE INDEX entity_list_bindings_by_group ON entity_list_bindings (group_id);
CREATE TRIGGER entities_delete_bindings AFTER DELETE ON entities
BEGIN DELETE FROM entity_list_bindings WHERE entity_id = OLD.entity_id; END;
CREATE TRIGGER named_objects_delete_bindings AFTER DELETE ON named_objects
BEGIN DELETE FROM entity_list_bindings WHERE group_id = OLD.object_id; END;

-- The policy version: one row counting every change of the tables sender
-- lists are decided from (entities, address groups and their members,
-- bindings), so that lists built from the database know what they reflect.
CREATE TABLE policy_version (
  version INTEGER NOT NULL
);
INSERT INTO policy_version (version) VALUES (0);
