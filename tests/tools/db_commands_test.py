"""`quorpolicy init`, `upgrade`, `export` and `import` on SQLite and, when a
scratch server is running (QUOR_TEST_PG_PORT, see .ci/services.sh), on
PostgreSQL: one body per case, run for each database.

QUOR_TOOL names the quorpolicy binary."""
import json
import os
import shutil
import socket
import subprocess
import tempfile
import unittest
import uuid

TOOL = os.environ.get("QUOR_TOOL", "quorpolicy")
PG_PORT = os.environ.get("QUOR_TEST_PG_PORT")
PG_REQUIRED = os.environ.get("QUOR_TEST_REQUIRE_PG") == "1"
BACKENDS = ["sqlite"] + (["pgsql"] if PG_PORT else [])
if PG_REQUIRED and not PG_PORT:
    raise SystemExit("QUOR_TEST_REQUIRE_PG=1 but QUOR_TEST_PG_PORT is not set")

# The console's daily questions: identical answers on identical data.
CONSOLE = [
    ["admin", "entities"],
    ["admin", "objects", "--admin", "alice", "--kind", "5"],
    ["admin", "objects", "--admin", "root", "--kind", "3"],
    ["admin", "quarantine", "--admin", "bob"],
    ["rule-order"],
    ["policy-servers"],
    ["admin", "bindings"],
]


def psql(sql, database="postgres"):
    return subprocess.run(["psql", "-h", "127.0.0.1", "-p", PG_PORT, "-U", "quor", "-d", database,
                    "-v", "ON_ERROR_STOP=1", "-qAtc", sql], check=True, capture_output=True,
                   text=True, timeout=60).stdout


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Roots:
    """Scratch installation roots on each database, and the tool run on them."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quor-db-")
        self.databases = []

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)
        for name in self.databases:
            psql("DROP DATABASE IF EXISTS %s WITH (FORCE)" % name)

    def run_tool(self, *args, home=None, expect=0):
        env = {k: v for k, v in os.environ.items()
               if k not in ("QUOR_HOME", "QUOR_DB_DIR", "QUOR_DB_INI", "ODBCINI")}
        if home:
            env["QUOR_HOME"] = home
        run = subprocess.run([TOOL] + list(args), capture_output=True, text=True, env=env,
                             timeout=120)
        if expect is not None:
            self.assertEqual(expect, run.returncode,
                             "%s\nstdout: %s\nstderr: %s" % (args, run.stdout, run.stderr))
        return run

    def pg_connection(self):
        name = "quor_cmd_" + uuid.uuid4().hex[:10]
        psql("CREATE DATABASE " + name)
        self.databases.append(name)
        return "Servername=127.0.0.1 Port=%s Database=%s Username=quor Password=s3cret" % (
            PG_PORT, name)

    def make_root(self, backend, *extra, connection=None):
        root = os.path.join(self.dir, "%s-%d" % (backend, len(os.listdir(self.dir))))
        args = ["init", root] + list(extra)
        if backend == "pgsql":
            args += ["--pgsql", connection or self.pg_connection()]
        self.run_tool(*args)
        return root

    def sql(self, root, statement):
        """Runs one statement on a root's database by the root's own settings;
        returns what it prints."""
        with open(os.path.join(root, "config", "database.ini")) as f:
            ini = f.read()
        if "StatementFolder = pgsql" in ini:
            database = [l.split("=", 1)[1].strip() for l in ini.splitlines()
                        if l.startswith("Database")][0]
            return psql(statement, database)
        return subprocess.run(["sqlite3", os.path.join(root, "data", "quorpolicy.db"), statement],
                              check=True, timeout=60, capture_output=True, text=True).stdout

    def console(self, root):
        return [self.run_tool(*q, home=root).stdout for q in CONSOLE]

    def make_version_2(self, root):
        """Takes the objects of schema versions 3 and 5 out of a new root's database."""
        with open(os.path.join(root, "config", "database.ini")) as f:
            pgsql = "StatementFolder = pgsql" in f.read()
        if pgsql:
            self.sql(root, "DROP FUNCTION policy_changed, policy_version_count CASCADE")
        else:
            for table in ("entities", "named_objects", "address_group_members"):
                for op in ("insert", "update", "delete"):
                    self.sql(root, "DROP TRIGGER %s_%s_version" % (table, op))
            for table in ("entities", "named_objects"):
                self.sql(root, "DROP TRIGGER %s_delete_bindings" % table)
            self.sql(root, "DROP TABLE policy_changes")
        self.sql(root, "DROP TABLE entity_list_bindings")
        self.sql(root, "DROP TABLE policy_version")


class DbCommandsTest(Roots, unittest.TestCase):
    def test_init_makes_a_root_that_needs_only_quor_home(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                root = self.make_root(backend)
                entities = self.run_tool("admin", "entities", home=root).stdout
                self.assertIn("*@example.com", entities)
                with open(os.path.join(root, "config", "database.ini")) as f:
                    ini = f.read()
                self.assertIn("StatementFolder = " + backend, ini)
                if backend == "pgsql":
                    self.assertIn("Password = ENC1:", ini)
                    self.assertNotIn("s3cret", ini)
                    self.assertEqual(0o600, os.stat(os.path.join(
                        root, "config", "credentials.key")).st_mode & 0o777)

    def test_init_refuses_unreachable_servers_and_existing_schemas(self):
        for backend in BACKENDS:
            if backend != "pgsql":
                continue
            connection = self.pg_connection()
            self.make_root(backend, "--no-sample", connection=connection)
            cases = [
                ("Servername=127.0.0.1 Port=%d Database=x Username=quor" % free_port(), 1,
                 "cannot connect to the PostgreSQL database x on 127.0.0.1:"),
                ("Servername=no-such-host.invalid Database=x", 1, "cannot connect"),
                ("Servername=127.0.0.1 Port=%s Database=no_such_db Username=quor" % PG_PORT, 1,
                 "cannot connect"),
                (connection, 3, "already holds policy tables"),
                ("Servername=127.0.0.1 Colour=blue", 2, "unknown key 'Colour'"),
            ]
            for text, status, message in cases:
                with self.subTest(connection=text):
                    root = os.path.join(self.dir, "refused")
                    run = self.run_tool("init", root, "--pgsql", text, expect=status)
                    self.assertIn(message, run.stderr)
                    self.assertEqual(1, len(run.stderr.strip().splitlines()), run.stderr)
                    self.assertFalse(os.path.exists(root), "a refused init left a root behind")
            # --force replaces the schema.
            self.make_root(backend, "--force", connection=connection)

    def test_init_takes_values_in_braces(self):
        if "pgsql" not in BACKENDS:
            self.skipTest("no PostgreSQL server")
        cases = [("Password={s3; c}}ret}", 0, ""),
                 ("Password={s3cret", 2, "a value's '{' is not closed by '}'")]
        for extra, status, message in cases:
            with self.subTest(extra=extra):
                root = os.path.join(self.dir, "braced-%d" % status)
                connection = self.pg_connection().replace("Password=s3cret", extra)
                run = self.run_tool("init", root, "--no-sample", "--pgsql", connection,
                                    expect=status)
                self.assertIn(message, run.stderr)

    def test_upgrade_from_version_1_repairs_links_and_refuses_newer_schemas(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                root = self.make_root(backend)
                # A database of version 1 in which the old kind change left the
                # links of alice's "Sales quarantine" (object 2) at kind 5.
                self.make_version_2(root)
                self.sql(root, "DROP TABLE schema_version")
                self.sql(root, "DROP TABLE change_log")
                self.sql(root, "ALTER TABLE administrators DROP COLUMN password_hash")
                self.sql(root, "UPDATE entity_named_objects SET kind = 5 WHERE object_id = 2")
                before = self.run_tool("admin", "objects", "--admin", "alice", "--kind", "3",
                                       home=root).stdout
                self.assertNotIn("Sales quarantine", before)
                # A root from before the shared statement folder: every
                # statement in its dialect folder, one of them outdated.
                folder = os.path.join(root, "sql", backend)
                shutil.rmtree(os.path.join(root, "sql", "common"))
                with open(os.path.join(folder, "ui_GetAllEntities.sql"), "w") as f:
                    f.write("SELECT 1 AS outdated")
                run = self.run_tool("upgrade", home=root)
                self.assertIn("schema upgraded from version 1 to 5", run.stdout)
                self.assertEqual("", self.run_tool("admin", "bindings", home=root).stdout)
                self.assertFalse(os.path.exists(os.path.join(folder, "ui_GetAllEntities.sql")))
                self.assertIn("*@example.com", self.run_tool("admin", "entities", home=root).stdout)
                after = self.run_tool("admin", "objects", "--admin", "alice", "--kind", "3",
                                      home=root).stdout
                self.assertIn("Sales quarantine", after)
                # The upgraded database counts (and on SQLite records) changes
                # as a new one does: a group with one member is two changes.
                self.run_tool("admin", "group", "add", "--admin", "alice", "--name", "Counted",
                              "--member", "x@y.example", home=root)
                self.assertEqual("2\n", self.sql(root, "SELECT version FROM policy_version"))
                if backend == "sqlite":
                    self.assertEqual("1|named_objects\n2|address_group_members\n",
                                     self.sql(root, "SELECT version, table_name FROM "
                                                    "policy_changes ORDER BY version"))
                self.assertIn("up to date (version 5)", self.run_tool("upgrade", home=root).stdout)
                self.sql(root, "UPDATE schema_version SET version = 99")
                run = self.run_tool("upgrade", home=root, expect=3)
                self.assertIn("schema version 99, newer than this quorpolicy knows (5)", run.stderr)

    def test_export_import_keeps_every_answer(self):
        source = self.make_root("sqlite")
        exported = os.path.join(self.dir, "export.json")
        self.run_tool("admin", "bind", "--admin", "alice", "--entity", "5", "--group", "4",
                      "--membership", "overrideable-white", home=source)
        self.run_tool("export", "--output", exported, home=source)
        want = self.console(source)
        for backend in BACKENDS:
            with self.subTest(target=backend):
                target = self.make_root(backend, "--no-sample")
                self.run_tool("import", exported, home=target)
                self.assertEqual(want, self.console(target))
                self.assertIn("VIP senders", want[-1])
                # New rows get fresh ids after the imported ones.
                self.run_tool("admin", "group", "add", "--admin", "alice", "--name", "After",
                              "--member", "x@y.example", home=target)
                # A second import finds the database filled and changes nothing.
                run = self.run_tool("import", exported, home=target, expect=3)
                self.assertIn("is not empty", run.stderr)
                self.assertEqual(want[0], self.console(target)[0])

    def test_import_refuses_bad_files_and_changes_nothing(self):
        source = self.make_root("sqlite")
        whole = self.run_tool("export", home=source).stdout
        doc = json.loads(whole)
        newer = dict(doc, schemaVersion=doc["schemaVersion"] + 1)
        ragged = json.loads(whole)
        ragged["tables"]["entities"]["rows"][0].pop()
        # Rows that pass every check but one constraint, after the entities:
        # the entities loaded before it must be rolled back with it.
        violating = json.loads(whole)
        violating["tables"]["administrators"]["rows"][-1][
            violating["tables"]["administrators"]["columns"].index("is_root")] = "7"
        files = [
            ("truncated", whole[: len(whole) // 2], 2, "not a whole export"),
            ("newer", json.dumps(newer), 3, "newer than this quorpolicy knows"),
            ("ragged", json.dumps(ragged), 2, "does not match its columns"),
            ("other", json.dumps({"format": "something else"}), 2, "not a quorpolicy export"),
            ("violating", json.dumps(violating), 1, "loading administrators"),
        ]
        for backend in BACKENDS:
            target = self.make_root(backend, "--no-sample")
            for name, text, status, message in files:
                with self.subTest(target=backend, file=name):
                    path = os.path.join(self.dir, name + ".json")
                    with open(path, "w") as f:
                        f.write(text)
                    run = self.run_tool("import", path, home=target, expect=status)
                    self.assertIn(message, run.stderr)
                    self.assertEqual("", self.run_tool("admin", "entities", home=target).stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
