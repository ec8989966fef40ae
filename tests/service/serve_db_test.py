"""`quorpolicy serve --db` against real databases: two servers on one
database see a change made with the tool, a database outage costs no
answers, a lost notification connection is recovered by a full load, and
the snapshot lets a start during an outage serve.

Sample data of `quorpolicy init`: address group 5 ("Blocked partners",
*@spam.example.biz) is bound here to entity 5 (*@example.com) as
non-overrideable black. QUOR_TOOL names the quorpolicy binary; PostgreSQL
comes from .ci/services.sh. Every wait is bounded; nothing here is timed."""
import os
import subprocess
import sys
import unittest
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from db_commands_test import BACKENDS, Roots  # noqa: E402
from serve_test import Server, wait_for  # noqa: E402

BLACK = "action=REJECT sender address rejected by policy"
DUNNO = "action=DUNNO"
RESTART = os.environ.get("QUOR_TEST_PG_RESTART")
RESTART_PORT = os.environ.get("QUOR_TEST_PG_RESTART_PORT")


def restart_cluster(verb):
    """Stops or starts the scratch server kept for recovery tests."""
    subprocess.run(RESTART.replace(" restart ", " %s " % verb), shell=True, check=True,
                   capture_output=True, timeout=120)


class ServeDbTest(Roots, unittest.TestCase):
    def setUp(self):
        super().setUp()
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.close()
        super().tearDown()

    def serve(self, root, *args):
        server = Server(self.dir, [], "--db", "--log-decisions", *args, env={"QUOR_HOME": root})
        self.servers.append(server)
        return server

    def blocked_root(self, backend, connection=None):
        root = self.make_root(backend, connection=connection)
        self.run_tool("admin", "bind", "--admin", "root", "--entity", "5", "--group", "5",
                      "--membership", "nonoverrideable-black", home=root)
        return root

    def block(self, root, *members):
        args = ["admin", "group", "modify", "--id", "5", "--name", "Blocked partners"]
        for member in members:
            args += ["--member", member]
        self.run_tool(*args, home=root)

    def wait_answers(self, servers, sender, want, recipient="bob@example.com"):
        clients = [s.connect() for s in servers]
        wait_for(lambda: all(c.ask(sender, recipient) == want for c in clients),
                 "%s to %s answered %s" % (sender, recipient, want))

    def loads(self, server):
        return server.text().count("policy database lists of version")

    def test_a_change_reaches_both_servers(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                root = self.blocked_root(backend)
                servers = [self.serve(root), self.serve(root)]
                client = servers[0].connect()
                # Which sender and recipient decide how is the deciding
                # code's tests' business; here the database's lists answer.
                self.assertEqual(BLACK, client.ask("x@spam.example.biz", "bob@example.com"))
                # The DATA stage names no single recipient.
                client.send(b"request=smtpd_access_policy\nprotocol_state=DATA\n"
                            b"sender=x@spam.example.biz\nrecipient=\n\n")
                self.assertEqual(DUNNO, client.answer())
                self.assertIn("black-listed action=REJECT by=sender entity=5(*@example.com) "
                              "group=5(Blocked\\x20partners) member=*@spam.example.biz "
                              "membership=nonoverrideable-black", servers[0].text())

                self.block(root, "*@spam.example.biz", "bad@evil.example")
                self.wait_answers(servers, "bad@evil.example", BLACK)
                self.block(root, "bad@evil.example")
                self.wait_answers(servers, "x@spam.example.biz", DUNNO)

    def test_members_and_a_binding_changed_together_are_both_seen(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                root = self.blocked_root(backend)
                server = self.serve(root)
                # Entity 7 (*@eng.example.com) has no list yet: only the new
                # member and the new binding together make this black.
                self.assertEqual(DUNNO, server.connect().ask("bad@evil.example",
                                                             "ann@eng.example.com"))
                self.sql(root, "BEGIN; INSERT INTO address_group_members (group_id, position, "
                         "address) VALUES (5, 99, 'bad@evil.example'); INSERT INTO "
                         "entity_list_bindings (entity_id, group_id, membership, position) "
                         "VALUES (7, 5, 'nonoverrideable-black', 0); COMMIT;")
                self.wait_answers([server], "bad@evil.example", BLACK, "ann@eng.example.com")

    def test_sqlite_changes_reload_their_groups_and_a_gap_reloads_everything(self):
        root = self.blocked_root("sqlite")
        server = self.serve(root)
        self.block(root, "*@spam.example.biz", "bad@evil.example")
        self.wait_answers([server], "bad@evil.example", BLACK)
        self.assertGreater(server.text().count("(from the database, changed groups)"), 0)
        self.assertEqual(1, server.text().count("(from the database)"))
        # A change whose predecessors were pruned: the versions in between
        # have no rows any more.
        self.sql(root, "BEGIN; UPDATE policy_version SET version = version + 10000; "
                 "UPDATE entities SET entity_name = entity_name WHERE entity_id = 5; COMMIT;")
        wait_for(lambda: server.text().count("(from the database)") == 2, "a full load")
        self.assertEqual(0, server.text().count("unreachable"))

    def test_a_failed_sqlite_load_is_retried_while_the_version_reads(self):
        root = self.blocked_root("sqlite")
        server = self.serve(root)
        # The version moves and still reads, but no load can read the bindings.
        self.sql(root, "ALTER TABLE entity_list_bindings RENAME TO bindings_away; "
                 "UPDATE policy_version SET version = version + 10000;")
        wait_for(lambda: "policy database unreachable" in server.text(), "the failed load")
        self.sql(root, "ALTER TABLE bindings_away RENAME TO entity_list_bindings;")
        wait_for(lambda: "reachable again" in server.text(), "a retried load")
        self.assertEqual(2, server.text().count("(from the database)"))

    def test_a_killed_listening_connection_gives_a_full_load(self):
        if "pgsql" not in BACKENDS:
            self.skipTest("no PostgreSQL server")
        root = self.blocked_root("pgsql")
        server = self.serve(root)
        database = self.pg_database(root)
        listening = ("SELECT pid FROM pg_stat_activity WHERE datname = '%s' AND query ILIKE "
                     "'listen%%'" % database)
        wait_for(lambda: self.sql(root, listening).strip(), "the server to listen")
        before = self.loads(server)
        self.sql(root, "SELECT pg_terminate_backend(pid) FROM (%s) AS l" % listening)
        wait_for(lambda: self.loads(server) > before, "a full load after the reconnect")
        self.block(root, "bad@evil.example")
        self.wait_answers([server], "bad@evil.example", BLACK)

    def pg_database(self, root):
        with open(os.path.join(root, "config", "database.ini")) as f:
            return [line.split("=", 1)[1].strip() for line in f.read().splitlines()
                    if line.startswith("Database")][0]

    def test_an_outage_keeps_the_lists_and_later_changes_are_seen(self):
        if not RESTART:
            self.skipTest("no restartable PostgreSQL server")
        name = "quor_outage_" + uuid.uuid4().hex[:10]
        subprocess.run(["psql", "-h", "127.0.0.1", "-p", RESTART_PORT, "-U", "quor", "-d",
                        "postgres", "-qc", "CREATE DATABASE " + name], check=True, timeout=60)
        self.addCleanup(subprocess.run, ["psql", "-h", "127.0.0.1", "-p", RESTART_PORT, "-U",
                                         "quor", "-d", "postgres", "-qc",
                                         "DROP DATABASE IF EXISTS %s WITH (FORCE)" % name],
                        timeout=60)
        root = self.blocked_root("pgsql", connection="Servername=127.0.0.1 Port=%s Database=%s "
                                 "Username=quor Password=s3cret" % (RESTART_PORT, name))
        server = self.serve(root)
        client = server.connect()
        restart_cluster("stop")
        try:
            wait_for(lambda: "policy database unreachable" in server.text(), "the outage")
            self.assertEqual(BLACK, client.ask("x@spam.example.biz", "bob@example.com"))
        finally:
            restart_cluster("start")
        wait_for(lambda: "reachable again" in server.text(), "the database to be back")
        self.block(root, "bad@evil.example")
        self.wait_answers([server], "bad@evil.example", BLACK)
        self.assertEqual(1, server.text().count("policy database unreachable"))

    def test_a_start_during_an_outage_serves_from_the_snapshot(self):
        root = self.blocked_root("sqlite")
        self.serve(root).stop()  # writes the snapshot
        database = os.path.join(root, "data", "quorpolicy.db")
        os.rename(database, database + ".away")
        server = self.serve(root)
        self.assertIn("answering from the snapshot", server.text())
        self.assertEqual(BLACK, server.connect().ask("x@spam.example.biz", "bob@example.com"))
        server.stop()

        os.remove(os.path.join(root, "var", "policy.snapshot"))
        run = self.run_tool("serve", "--db", "--listen", "127.0.0.1:0", home=root, expect=1)
        lines = [l for l in run.stderr.splitlines() if "quorpolicy: serve:" in l]
        self.assertEqual(1, len(lines), run.stderr)
        self.assertIn("the policy database cannot be read", lines[0])
        self.assertIn("no usable snapshot", lines[0])


if __name__ == "__main__":
    unittest.main()
