-- Version 5: nothing changes here. SQLite databases gain the table of the
-- changes behind each policy version, which PostgreSQL does not need: its
-- triggers announce each change as it commits. This step keeps the schema
-- versions of both dialects the same.
SELECT 1;
