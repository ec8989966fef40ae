-- The policy version: how many changes the tables the sender lists are
-- decided from have seen.
SELECT version AS version FROM policy_version
