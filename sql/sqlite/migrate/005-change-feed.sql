-- Version 5: the changes behind each policy version. Every change of a table
-- the sender lists are decided from counts one version (as before) and now
-- also leaves a row naming the table and the ids it touched, in the form of
-- PostgreSQL's notifications ("address_group_members 12"), so that a polling
-- service reads what changed since the version it has and reloads only that.
-- Only the rows of the last 10000 versions are kept: a service further
-- behind finds a gap and loads everything. The version itself is recorded by
-- `quorpolicy upgrade`.
CREATE TABLE policy_changes (
  version    INTEGER PRIMARY KEY,
  table_name TEXT NOT NULL,
  ids        TEXT
);

DROP TRIGGER entities_insert_version;
CREATE TRIGGER entities_insert_version AFTER INSERT ON entities
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entities', NEW.entity_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER entities_update_version;
CREATE TRIGGER entities_update_version AFTER UPDATE ON entities
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entities', NEW.entity_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER entities_delete_version;
CREATE TRIGGER entities_delete_version AFTER DELETE ON entities
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entities', OLD.entity_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER named_objects_insert_version;
CREATE TRIGGER named_objects_insert_version AFTER INSERT ON named_objects
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'named_objects', NEW.object_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER named_objects_update_version;
CREATE TRIGGER named_objects_update_version AFTER UPDATE ON named_objects
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'named_objects', NEW.object_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER named_objects_delete_version;
CREATE TRIGGER named_objects_delete_version AFTER DELETE ON named_objects
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'named_objects', OLD.object_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER address_group_members_insert_version;
CREATE TRIGGER address_group_members_insert_version AFTER INSERT ON address_group_members
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'address_group_members', NEW.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER address_group_members_update_version;
CREATE TRIGGER address_group_members_update_version AFTER UPDATE ON address_group_members
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'address_group_members', NEW.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER address_group_members_delete_version;
CREATE TRIGGER address_group_members_delete_version AFTER DELETE ON address_group_members
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'address_group_members', OLD.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER entity_list_bindings_insert_version;
CREATE TRIGGER entity_list_bindings_insert_version AFTER INSERT ON entity_list_bindings
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entity_list_bindings', NEW.entity_id || ' ' || NEW.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER entity_list_bindings_update_version;
CREATE TRIGGER entity_list_bindings_update_version AFTER UPDATE ON entity_list_bindings
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entity_list_bindings', NEW.entity_id || ' ' || NEW.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
DROP TRIGGER entity_list_bindings_delete_version;
CREATE TRIGGER entity_list_bindings_delete_version AFTER DELETE ON entity_list_bindings
BEGIN
  UPDATE policy_version SET version = version + 1;
  INSERT INTO policy_changes (version, table_name, ids)
    SELECT version, 'entity_list_bindings', OLD.entity_id || ' ' || OLD.group_id FROM policy_version;
  DELETE FROM policy_changes WHERE version <= (SELECT version - 10000 FROM policy_version);
END;
