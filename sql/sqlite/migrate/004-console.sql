-- Version 4: passwords of administrators for the console, and the log of
-- changes made through it. The version itself is recorded by
-- `quorpolicy upgrade`.
ALTER TABLE administrators ADD COLUMN password_hash TEXT;
CREATE TABLE change_log (
  change_id   INTEGER PRIMARY KEY AUTOINCREMENT,
  admin_id    INTEGER NOT NULL,
  changed_at  TEXT    NOT NULL,
  operation   TEXT    NOT NULL,
  object_id   INTEGER NOT NULL,
  object_name TEXT    NOT NULL
);
