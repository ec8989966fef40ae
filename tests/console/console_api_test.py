"""The console's JSON API against the real server, on SQLite and, when a
scratch server runs, on PostgreSQL. The sample data of `quorpolicy init`:
alice sees group 4 "VIP senders" (editable, not deletable: a rule uses it);
group 6 belongs to bob's entities."""
import os
import ssl
import subprocess
import unittest

from console_support import BACKENDS, TOOL, Client, Console

MARKUP = "<img src=x onerror=alert(1)> \"quoted\" 'single' &amp;"
MEMBERS = ["o'brien@example.com", "\"<b>x</b>\"@example.com", "*@*.example.org"]


class ConsoleApiTest(unittest.TestCase):
    def test_api(self):
        for backend in BACKENDS:
            with self.subTest(backend=backend):
                console = Console(backend)
                try:
                    self.check_api(console)
                finally:
                    console.close()

    def names(self, client):
        status, groups, _ = client.request("GET", "/api/address-groups")
        self.assertEqual(200, status)
        return sorted(g["name"] for g in groups)

    def check_api(self, console):
        # The same 401 for a wrong name and a wrong password.
        wrong_name = Client(console.port).sign_in("nobody", "alice-secret")
        wrong_password = Client(console.port).sign_in("alice", "not-her-password")
        self.assertEqual((401, {"error": "wrong name or password"}), wrong_name[:2])
        self.assertEqual(wrong_name[:2], wrong_password[:2])

        alice = Client(console.port)
        status, body, res = alice.sign_in("alice")
        self.assertEqual(200, status)
        self.assertEqual({"admin": "alice", "root": False}, {k: body[k] for k in ("admin", "root")})
        cookie = res.getheader("Set-Cookie")
        for attribute in ("HttpOnly", "SameSite=Strict", "Path=/"):
            self.assertIn(attribute, cookie)
        self.assertEqual("nosniff", res.getheader("X-Content-Type-Options"))
        self.assertEqual("no-store", res.getheader("Cache-Control"))

        status, groups, _ = alice.request("GET", "/api/address-groups")
        self.assertEqual(200, status)
        self.assertIn({"id": 4, "name": "VIP senders", "editable": True, "deletable": False}, groups)
        self.assertNotIn(6, [g["id"] for g in groups])
        before = self.names(alice)

        # Refusals, each changing nothing.
        group = {"name": "Refused", "members": ["a@example.com"]}
        cases = [
            ("no CSRF token", "POST", "/api/address-groups", {"body": group, "csrf": False}, 403),
            ("bob's group", "GET", "/api/address-groups/6", {}, 404),
            ("bob's group, changed", "PUT", "/api/address-groups/6", {"body": group}, 404),
            ("bob's group, deleted", "DELETE", "/api/address-groups/6", {}, 404),
            ("missing group", "GET", "/api/address-groups/999999", {}, 404),
            ("visible, not deletable", "DELETE", "/api/address-groups/4", {}, 403),
            ("malformed JSON", "POST", "/api/address-groups", {"raw": "{\"name\": "}, 400),
            ("missing name", "POST", "/api/address-groups", {"body": {"members": []}}, 400),
            ("members not a list", "POST", "/api/address-groups",
             {"body": {"name": "x", "members": "a@example.com"}}, 400),
            ("bad member", "POST", "/api/address-groups",
             {"body": {"name": "x", "members": ["not an address"]}}, 400),
            ("oversize body", "POST", "/api/address-groups",
             {"raw": "{\"name\": \"" + "x" * 70000 + "\", \"members\": []}"}, 413),
        ]
        for label, method, path, options, want in cases:
            with self.subTest(case=label):
                status, body, _ = alice.request(method, path, **options)
                self.assertEqual(want, status, body)
                self.assertIsInstance(body["error"], str)
        self.assertEqual(before, self.names(alice))
        self.assertEqual(alice.request("GET", "/api/address-groups/6")[1],
                         alice.request("GET", "/api/address-groups/999999")[1])

        # Markup and quotes are stored and answered as text.
        status, body, _ = alice.request("POST", "/api/address-groups",
                                        {"name": MARKUP, "members": MEMBERS})
        self.assertEqual(201, status, body)
        new_id = body["id"]
        status, body, _ = alice.request("GET", "/api/address-groups/%d" % new_id)
        self.assertEqual((200, MARKUP, MEMBERS), (status, body["name"], body["members"]))
        status, body, _ = alice.request("PUT", "/api/address-groups/%d" % new_id,
                                        {"name": MARKUP + " 2", "members": MEMBERS[:1]})
        self.assertEqual(200, status, body)
        status, body, _ = alice.request("GET", "/api/address-groups/%d" % new_id)
        self.assertEqual((MARKUP + " 2", MEMBERS[:1]), (body["name"], body["members"]))

        # Another administrator neither sees nor reaches it.
        bob = Client(console.port)
        self.assertEqual(200, bob.sign_in("bob")[0])
        self.assertNotIn(MARKUP + " 2", self.names(bob))
        for method, options in (("GET", {}), ("PUT", {"body": group}), ("DELETE", {})):
            self.assertEqual(404, bob.request(method, "/api/address-groups/%d" % new_id,
                                              **options)[0])

        # The change log: root reads alice's changes, alice may not.
        self.assertEqual(403, alice.request("GET", "/api/changes")[0])
        root = Client(console.port)
        self.assertEqual(200, root.sign_in("root")[0])
        status, changes, _ = root.request("GET", "/api/changes")
        self.assertEqual(200, status)
        self.assertEqual([("alice", "modify address group", new_id, MARKUP + " 2"),
                          ("alice", "create address group", new_id, MARKUP)],
                         [(c["admin"], c["operation"], c["objectId"], c["objectName"])
                          for c in changes])
        listed = console.tool("admin", "changes")
        self.assertEqual(0, listed.returncode, listed.stderr)
        self.assertEqual(2, len(listed.stdout.splitlines()))

        # Entities as a tree: alice's own at the top; for root *@eng.example.com
        # hangs under *@*.example.com.
        status, tree, _ = alice.request("GET", "/api/entities")
        self.assertEqual((200, [2, 5, 4]), (status, [n["id"] for n in tree]))
        status, tree, _ = root.request("GET", "/api/entities")
        self.assertEqual(([1, 2, 3, 4, 5, 6], [7]),
                         (sorted(n["id"] for n in tree),
                          [c["id"] for n in tree if n["id"] == 6 for c in n["children"]]))

        # What only root reads, from the sample data.
        status, order, _ = root.request("GET", "/api/rule-order")
        # Virus (group 1) first, then Spam (group 4), as filter_groups orders them.
        self.assertEqual((200, True, [{"kind": 1, "name": "VirusFilter"},
                                      {"kind": 8, "name": "SpamGorvoFilter"}]),
                         (status, order["manual"], order["groups"][:2]))
        status, servers, _ = root.request("GET", "/api/policy-servers")
        self.assertEqual((200, [(1, "10.0.0.5", 8443), (2, "10.0.0.6", 8443)]),
                         (status, [(p["id"], p["address"], p["port"]) for p in servers]))
        for path in ("/api/rule-order", "/api/policy-servers", "/api/settings"):
            self.assertEqual(403, alice.request("GET", path)[0], path)

        # Settings: root only, each refused value named by its field.
        status, body, _ = root.request("GET", "/api/settings")
        self.assertEqual(200, status, body)
        settings = dict(body["settings"], backlog=5000, threads=60, maxThreads=50)
        status, body, _ = root.request("PUT", "/api/settings", settings)
        self.assertEqual((400, {"backlog", "maxThreads"}), (status, set(body["fields"])))
        settings = dict(settings, backlog=250, threads=20)
        self.assertEqual(200, root.request("PUT", "/api/settings", settings)[0])
        self.assertEqual(250, root.request("GET", "/api/settings")[1]["settings"]["backlog"])

        self.assertEqual(204, alice.request("DELETE", "/api/address-groups/%d" % new_id)[0])
        self.assertEqual(before, self.names(alice))
        self.check_bindings(alice, bob, root)

        # Signing out ends the session.
        self.assertEqual(204, alice.request("DELETE", "/api/session")[0])
        self.assertEqual(401, alice.request("GET", "/api/address-groups")[0])

    def check_bindings(self, alice, bob, root):
        # alice manages entity 5 (*@example.com) and edits group 4; entity 3
        # and group 6 are bob's.
        def listed(client, query=""):
            status, body, _ = client.request("GET", "/api/bindings" + query)
            self.assertEqual(200, status, body)
            return [(b["entity"], b["group"], b["membership"], b["position"]) for b in body]

        logged = len(root.request("GET", "/api/changes")[1])
        bind = {"entity": 5, "group": 4, "membership": "overrideable-white"}
        refusals = [
            ("no CSRF token", "POST", "/api/bindings", {"body": bind, "csrf": False}, 403),
            ("bob's entity", "POST", "/api/bindings", {"body": dict(bind, entity=3)}, 404),
            ("bob's group", "POST", "/api/bindings", {"body": dict(bind, group=6)}, 404),
            ("bob's entity, listed", "GET", "/api/bindings?entity=3", {}, 404),
            ("unknown membership", "POST", "/api/bindings",
             {"body": dict(bind, membership="grey")}, 400),
        ]
        for label, method, path, options, want in refusals:
            with self.subTest(case=label):
                self.assertEqual(want, alice.request(method, path, **options)[0])
        self.assertEqual([], listed(root))
        self.assertEqual(logged, len(root.request("GET", "/api/changes")[1]))

        status, body, _ = alice.request("POST", "/api/bindings", dict(bind, position=3))
        self.assertEqual((201, bind), (status, body))
        self.assertEqual([(5, 4, "overrideable-white", 3)], listed(alice, "?entity=5"))
        self.assertEqual([], listed(bob))
        self.assertEqual(404, bob.request("DELETE", "/api/bindings/5/4/overrideable-white")[0])
        self.assertEqual(204, alice.request("DELETE", "/api/bindings/5/4/overrideable-white")[0])
        self.assertEqual([], listed(alice))
        self.assertEqual([("alice", "unbind address group", 4), ("alice", "bind address group", 4)],
                         [(c["admin"], c["operation"], c["objectId"])
                          for c in root.request("GET", "/api/changes")[1][:2]])

    def test_tls_and_the_listening_address(self):
        # Plain HTTP beyond loopback is refused unless asked for.
        run = subprocess.run([TOOL, "console", "--listen", "0.0.0.0:0", "--home", "/nonexistent"],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(3, run.returncode, run.stderr)
        self.assertIn("without TLS is refused", run.stderr)

        def certificate(folder):
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                            "-subj", "/CN=localhost", "-days", "1",
                            "-keyout", os.path.join(folder, "key.pem"),
                            "-out", os.path.join(folder, "cert.pem")],
                           check=True, capture_output=True, timeout=120)
            return "--tls-cert=" + os.path.join(folder, "cert.pem")

        console = Console("sqlite", certificate, lambda d: "--tls-key=" + os.path.join(d, "key.pem"),
                          scheme="https")
        try:
            context = ssl.create_default_context()
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
            status, _, res = Client(console.port, context).sign_in("alice")
            self.assertEqual(200, status)
            self.assertIn("; Secure", res.getheader("Set-Cookie"))
        finally:
            console.close()


if __name__ == "__main__":
    unittest.main()
