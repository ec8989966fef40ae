"""`quorpolicy admin bind`, `unbind` and `bindings` on the sample data of
`quorpolicy init`, on SQLite and (when a scratch server runs) PostgreSQL.

Sample data: alice manages entities 2, 5 (*@example.com) and 4; bob 3 and
7 (*@eng.example.com); address groups 4 (alice's), 5 (root's entity) and 6
(bob's); object 3 is a quarantine area."""
import json
import unittest

from db_commands_test import BACKENDS, Roots


class BindingsTest(Roots, unittest.TestCase):
    def bindings(self, root):
        return json.loads(self.run_tool("admin", "bindings", "--json", home=root).stdout)

    def version(self, root):
        return int(self.sql(root, "SELECT version FROM policy_version"))

    def test_refused_bindings_change_nothing(self):
        # A wildcard entity under bob's *@eng.example.com, made by hand.
        cases = [
            (["alice", "3", "4"], 3, "administrator 'alice' does not manage entity 3"),
            (["bob", "8", "4"], 3, "address group 4"),
            (["alice", "5", "5"], 3, "address group 5"),
            (["alice", "5", "3"], 3, "address group 3"),
            (["alice", "99", "4"], 4, "no entity with id 99"),
            (["nobody", "5", "4"], 4, "no administrator named 'nobody'"),
            (["alice", "5", "4", "--membership", "grey"], 2, "unknown membership 'grey'"),
            (["alice", "5", "4"], 3, "address group 4 is already bound to entity 5 as overrideable-white"),
        ]
        for backend in BACKENDS:
            root = self.make_root(backend)
            self.sql(root, "INSERT INTO entities (entity_id, entity_name, entity_type) "
                           "VALUES (8, 'dev@eng.example.com', 6)")
            self.bind(root, "alice", "5", "4")
            before, version = self.bindings(root), self.version(root)
            for args, status, message in cases:
                with self.subTest(backend=backend, args=args):
                    run = self.bind(root, *args, expect=status)
                    self.assertIn(message, run.stderr)
                    self.assertEqual(before, self.bindings(root))
                    self.assertEqual(version, self.version(root))

    def test_bind_unbind_and_group_removal(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                root = self.make_root(backend)
                self.sql(root, "INSERT INTO entities (entity_id, entity_name, entity_type) "
                               "VALUES (8, 'dev@eng.example.com', 6)")
                version = self.version(root)
                self.bind(root, "bob", "8", "6")  # a wildcard child of bob's entity 7
                self.bind(root, "root", "6", "5", "--membership", "nonoverrideable-black")
                self.bind(root, "root", "6", "4")
                self.bind(root, "root", "6", "6", "--position", "7")
                self.bind(root, "root", "4", "4")  # an LDAP entity: kept, decides nothing
                self.assertLess(version, self.version(root))
                got = [(b["entity"], b["group"], b["membership"], b["position"], b["decides"])
                       for b in self.bindings(root)]
                self.assertEqual([(4, 4, "overrideable-white", 0, False),
                                  (6, 4, "overrideable-white", 1, True),
                                  (6, 5, "nonoverrideable-black", 0, True),
                                  (6, 6, "overrideable-white", 7, True),
                                  (8, 6, "overrideable-white", 0, True)], sorted(got))
                self.run_tool("admin", "unbind", "--admin", "root", "--entity", "6",
                              "--group", "5", home=root)
                self.run_tool("admin", "unbind", "--admin", "root", "--entity", "6",
                              "--group", "5", home=root, expect=4)
                # Removing a group takes its bindings with it.
                self.run_tool("admin", "group", "delete", "--id", "6", home=root)
                changes = json.loads(self.run_tool("admin", "changes", "--json", home=root).stdout)
                self.assertEqual([("root", "delete address group", 6),
                                  ("root", "unbind address group", 5),
                                  ("root", "bind address group", 4),
                                  ("root", "bind address group", 6),
                                  ("root", "bind address group", 4),
                                  ("root", "bind address group", 5),
                                  ("bob", "bind address group", 6)],
                                 [(c["admin"], c["operation"], c["objectId"]) for c in changes])
                self.assertEqual([(4, 4), (6, 4)], [(b["entity"], b["group"])
                                            for b in self.bindings(root)])
                self.assertEqual("2", self.sql(
                    root, "SELECT COUNT(*) FROM entity_list_bindings").strip())

    def test_match_db_explains_the_decision(self):
        root = self.make_root("sqlite")
        self.bind(root, "root", "5", "4")  # VIP senders, white for *@example.com
        # One row per form: a listed and an unlisted answer. How the lists
        # decide is the database lists' tests' business.
        cases = [("ann@example.com", "CEO@partner.example.net", "Whitelisted", 4,
                  "ceo@partner.example.net", "overrideable-white"),
                 ("ann@other.org", "ceo@partner.example.net", "NotListed", None, None, None)]
        for recipient, sender, result, group, pattern, membership in cases:
            with self.subTest(recipient=recipient, sender=sender):
                out = json.loads(self.run_tool("match", "--db", "--recipient", recipient,
                                               "--json", sender, home=root).stdout)
                self.assertEqual((result, group, pattern, membership),
                                 (out["result"], out["group"], out["pattern"], out["membership"]))
                self.assertEqual(5 if group else None, out["entity"])
        run = self.run_tool("match", "--db", "--recipient", "ann@example.com",
                            "ceo@partner.example.net", home=root)
        self.assertEqual("ceo@partner.example.net to ann@example.com: Whitelisted (1), "
                         "white-listed by \"ceo@partner.example.net\" (overrideable-white) in "
                         "group 4 (VIP senders) of entity 5 (*@example.com)\n", run.stdout)

    def bind(self, root, admin, entity, group, *extra, expect=0):
        if "--membership" not in extra:
            extra = extra + ("--membership", "overrideable-white")
        return self.run_tool("admin", "bind", "--admin", admin, "--entity", entity,
                             "--group", group, *extra, home=root, expect=expect)


if __name__ == "__main__":
    unittest.main(verbosity=2)
