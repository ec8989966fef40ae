-- What the changes above a policy version touched, oldest first: the table
-- and the ids, as PostgreSQL's notifications name them.
SELECT version AS version, table_name AS table_name, ids AS ids
  FROM policy_changes
 WHERE version > %s
 ORDER BY version
 LIMIT 20000
