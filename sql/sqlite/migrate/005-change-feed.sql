-- Version 5: the changes behind each policy version. Every change of a table
-- the sender lists are decided from leaves a row naming the table and the ids
-- it touched, in the form of PostgreSQL's notifications
-- ("address_group_members 12"), so that a polling service reads what changed
-- since the version it has and reloads only that; each row counts one
-- version. Databases that reached version 3 or 4 with triggers counting
-- versions alone have those replaced. The version itself is recorded by
-- `quorpolicy upgrade`.
CREATE TABLE policy_changes (
  version    INTEGER PRIMARY KEY,
  table_name TEXT NOT NULL,
  ids        TEXT
);
DROP TRIGGER IF EXISTS entities_insert_version;
DROP TRIGGER IF EXISTS entities_update_version;
DROP TRIGGER IF EXISTS entities_delete_version;
DROP TRIGGER IF EXISTS named_objects_insert_version;
DROP TRIGGER IF EXISTS named_objects_update_version;
DROP TRIGGER IF EXISTS named_objects_delete_version;
DROP TRIGGER IF EXISTS address_group_members_insert_version;
DROP TRIGGER IF EXISTS address_group_members_update_version;
DROP TRIGGER IF EXISTS address_group_members_delete_version;
DROP TRIGGER IF EXISTS entity_list_bindings_insert_version;
DROP TRIGGER IF EXISTS entity_list_bindings_update_version;
DROP TRIGGER IF EXISTS entity_list_bindings_delete_version;
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
