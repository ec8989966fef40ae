-- Version 3: sender lists bound to entities, and the policy version with
-- the triggers that count (and, on PostgreSQL, announce) changes of what
-- the lists are decided from. The version itself is recorded by
-- `quorpolicy upgrade`.

-- Sender lists of entities: address group `group_id` is a list of entity
-- `entity_id` with one membership (the names of list files), at `position`
-- among the entity's lists. Removing the entity or the group removes its
-- bindings.
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

-- The policy version: one row counting every change of the tables sender
-- lists are decided from (entities, address groups and their members,
-- bindings), so that lists built from the database know what they reflect.
CREATE TABLE policy_version (
  version INTEGER NOT NULL
);
INSERT INTO policy_version (version) VALUES (0);

-- Every statement that changes a table the sender lists are decided from
-- counts once; every changed row tells the listeners of channel "quorpolicy"
-- what changed, at commit: the table and the row's ids (the trigger's
-- arguments name the id columns), for example "address_group_members 12" or
-- "entity_list_bindings 3 12". Notifications of one transaction with the
-- same text are delivered once.
CREATE OR REPLACE FUNCTION policy_version_count() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  UPDATE policy_version SET version = version + 1;
  RETURN NULL;
END
$$;
CREATE OR REPLACE FUNCTION policy_changed() RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  r JSONB;
  what TEXT := TG_TABLE_NAME;
  i INTEGER;
BEGIN
  IF TG_OP = 'DELETE' THEN r := to_jsonb(OLD); ELSE r := to_jsonb(NEW); END IF;
  FOR i IN 0 .. TG_NARGS - 1 LOOP
    what := what || ' ' || COALESCE(r ->> TG_ARGV[i], '');
  END LOOP;
  PERFORM pg_notify('quorpolicy', what);
  RETURN NULL;
END
$$;
CREATE TRIGGER entities_count AFTER INSERT OR UPDATE OR DELETE ON entities
  FOR EACH STATEMENT EXECUTE FUNCTION policy_version_count();
CREATE TRIGGER entities_notify AFTER INSERT OR UPDATE OR DELETE ON entities
  FOR EACH ROW EXECUTE FUNCTION policy_changed('entity_id');
CREATE TRIGGER named_objects_count AFTER INSERT OR UPDATE OR DELETE ON named_objects
  FOR EACH STATEMENT EXECUTE FUNCTION policy_version_count();
CREATE TRIGGER named_objects_notify AFTER INSERT OR UPDATE OR DELETE ON named_objects
  FOR EACH ROW EXECUTE FUNCTION policy_changed('object_id');
CREATE TRIGGER address_group_members_count AFTER INSERT OR UPDATE OR DELETE ON address_group_members
  FOR EACH STATEMENT EXECUTE FUNCTION policy_version_count();
CREATE TRIGGER address_group_members_notify AFTER INSERT OR UPDATE OR DELETE ON address_group_members
  FOR EACH ROW EXECUTE FUNCTION policy_changed('group_id');
CREATE TRIGGER entity_list_bindings_count AFTER INSERT OR UPDATE OR DELETE ON entity_list_bindings
  FOR EACH STATEMENT EXECUTE FUNCTION policy_version_count();
CREATE TRIGGER entity_list_bindings_notify AFTER INSERT OR UPDATE OR DELETE ON entity_list_bindings
  FOR EACH ROW EXECUTE FUNCTION policy_changed('entity_id', 'group_id');
