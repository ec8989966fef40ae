-- Policy database layout, SQLite flavour. Applied by `quorpolicy init` and
-- by the tests; each statement runs on its own, in order.

-- Entities that policies, named objects and administrators are scoped to.
-- type: 0 to 7; 2 an LDAP object, 6 a wildcard address pattern.
CREATE TABLE entities (
  entity_id   INTEGER PRIMARY KEY AUTOINCREMENT,
  entity_name TEXT    NOT NULL,
  entity_type INTEGER NOT NULL CHECK (entity_type BETWEEN 0 AND 7)
);
CREATE INDEX entities_by_type ON entities (entity_type, entity_name);

-- Administrators; exactly one is the root administrator, who sees everything.
CREATE TABLE administrators (
  admin_id   INTEGER PRIMARY KEY AUTOINCREMENT,
  admin_name TEXT    NOT NULL UNIQUE,
  is_root    INTEGER NOT NULL DEFAULT 0 CHECK (is_root IN (0, 1))
);

-- The entities each administrator manages, in the order they are listed.
CREATE TABLE admin_entities (
  admin_id  INTEGER NOT NULL REFERENCES administrators (admin_id),
  entity_id INTEGER NOT NULL REFERENCES entities (entity_id),
  position  INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (admin_id, entity_id)
);

-- Named policy objects: kind 3 quarantine area, 5 address group, others as
-- stored. The content's format belongs to the kind; its length is unlimited.
CREATE TABLE named_objects (
  object_id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind      INTEGER NOT NULL,
  name      TEXT    NOT NULL,
  content   TEXT    NOT NULL DEFAULT ''
);
CREATE INDEX named_objects_by_kind ON named_objects (kind, name);

-- Which entities a named object belongs to (its maker's entities).
CREATE TABLE entity_named_objects (
  entity_id INTEGER NOT NULL REFERENCES entities (entity_id),
  object_id INTEGER NOT NULL REFERENCES named_objects (object_id),
  kind      INTEGER NOT NULL,
  PRIMARY KEY (entity_id, object_id)
);
CREATE INDEX entity_named_objects_by_object ON entity_named_objects (object_id);

-- Members of address groups (named objects of kind 5), in list order.
CREATE TABLE address_group_members (
  group_id INTEGER NOT NULL REFERENCES named_objects (object_id),
  position INTEGER NOT NULL,
  address  TEXT    NOT NULL,
  PRIMARY KEY (group_id, position)
);

-- The filter groups of the e-mail scan and their manual order.
CREATE TABLE filter_groups (
  filter_id   INTEGER PRIMARY KEY,
  filter_type TEXT    NOT NULL,
  rule_order  INTEGER NOT NULL
);

-- Rules. A rule refers to named objects through its action object (for
-- example the quarantine area it moves mail to) and through its conditions
-- (for example the address groups it applies to).
CREATE TABLE rules (
  rule_id          INTEGER PRIMARY KEY AUTOINCREMENT,
  rule_name        TEXT    NOT NULL,
  filter_id        INTEGER NOT NULL REFERENCES filter_groups (filter_id),
  entity_id        INTEGER REFERENCES entities (entity_id),
  action_object_id INTEGER REFERENCES named_objects (object_id)
);
CREATE TABLE rule_named_objects (
  rule_id   INTEGER NOT NULL REFERENCES rules (rule_id),
  object_id INTEGER NOT NULL REFERENCES named_objects (object_id),
  PRIMARY KEY (rule_id, object_id)
);

-- Global settings of the gateway, by section and key.
CREATE TABLE global_settings (
  section       TEXT NOT NULL,
  setting_key   TEXT NOT NULL,
  setting_value TEXT,
  PRIMARY KEY (section, setting_key)
);

-- Registered components; kind 'P' is a policy server.
CREATE TABLE components (
  scanner_id INTEGER PRIMARY KEY,
  kind       TEXT    NOT NULL,
  name       TEXT    NOT NULL DEFAULT '',
  ip_addr    TEXT    NOT NULL,
  agent_port INTEGER NOT NULL
);

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

-- The changes behind each policy version: every change of a table the sender
-- lists are decided from leaves a row naming the table and the ids it touched,
-- in the form of PostgreSQL's notifications ("address_group_members 12"), so
-- that a polling service reads what changed since the version it has and
-- reloads only that. SQLite has neither statement-level nor multi-event
-- triggers, hence one short trigger per table and event.
CREATE TABLE policy_changes (
  version    INTEGER PRIMARY KEY,
  table_name TEXT NOT NULL,
  ids        TEXT
);
-- Each change row counts one version and keeps only the last 10000 rows: a
-- service further behind finds a gap and loads everything.
CREATE TRIGGER policy_changes_count AFTER INSERT ON policy_changes
BEGIN
  UPDATE policy_version SET version = NEW.version;
  DELETE FROM policy_changes WHERE version <= NEW.version - 10000;
END;
CREATE TRIGGER entities_insert_version AFTER INSERT ON entities
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entities', NEW.entity_id FROM policy_version; END;
CREATE TRIGGER entities_update_version AFTER UPDATE ON entities
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entities', NEW.entity_id FROM policy_version; END;
CREATE TRIGGER entities_delete_version AFTER DELETE ON entities
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entities', OLD.entity_id FROM policy_version; END;
CREATE TRIGGER named_objects_insert_version AFTER INSERT ON named_objects
BEGIN INSERT INTO policy_changes SELECT version + 1, 'named_objects', NEW.object_id FROM policy_version; END;
CREATE TRIGGER named_objects_update_version AFTER UPDATE ON named_objects
BEGIN INSERT INTO policy_changes SELECT version + 1, 'named_objects', NEW.object_id FROM policy_version; END;
CREATE TRIGGER named_objects_delete_version AFTER DELETE ON named_objects
BEGIN INSERT INTO policy_changes SELECT version + 1, 'named_objects', OLD.object_id FROM policy_version; END;
CREATE TRIGGER address_group_members_insert_version AFTER INSERT ON address_group_members
BEGIN INSERT INTO policy_changes SELECT version + 1, 'address_group_members', NEW.group_id FROM policy_version; END;
CREATE TRIGGER address_group_members_update_version AFTER UPDATE ON address_group_members
BEGIN INSERT INTO policy_changes SELECT version + 1, 'address_group_members', NEW.group_id FROM policy_version; END;
CREATE TRIGGER address_group_members_delete_version AFTER DELETE ON address_group_members
BEGIN INSERT INTO policy_changes SELECT version + 1, 'address_group_members', OLD.group_id FROM policy_version; END;
CREATE TRIGGER entity_list_bindings_insert_version AFTER INSERT ON entity_list_bindings
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entity_list_bindings', NEW.entity_id || ' ' || NEW.group_id FROM policy_version; END;
CREATE TRIGGER entity_list_bindings_update_version AFTER UPDATE ON entity_list_bindings
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entity_list_bindings', NEW.entity_id || ' ' || NEW.group_id FROM policy_version; END;
CREATE TRIGGER entity_list_bindings_delete_version AFTER DELETE ON entity_list_bindings
BEGIN INSERT INTO policy_changes SELECT version + 1, 'entity_list_bindings', OLD.entity_id || ' ' || OLD.group_id FROM policy_version; END;

-- The schema's version: `quorpolicy upgrade` applies the files
-- migrate/NNN-*.sql above it, each in one transaction. Databases made before
-- versions were recorded have no such table and count as version 1.
CREATE TABLE schema_version (
  version INTEGER NOT NULL
);
INSERT INTO schema_version (version) VALUES (5);

-- Console sign-in: the Argon2id hash (libsodium's encoded form) of each
-- administrator's password; NULL for an administrator who cannot sign in.
ALTER TABLE administrators ADD COLUMN password_hash TEXT;

-- Changes made through the console and `quorpolicy admin`: who, when (UTC,
-- ISO 8601), what (operation), and the object's id and name at the time.
CREATE TABLE change_log (
  change_id   INTEGER PRIMARY KEY AUTOINCREMENT,
  admin_id    INTEGER NOT NULL,
  changed_at  TEXT    NOT NULL,
  operation   TEXT    NOT NULL,
  object_id   INTEGER NOT NULL,
  object_name TEXT    NOT NULL
);
