"""End-to-end tests of `quorpolicy serve`: the policy protocol over real
sockets, reloads and shutdown by signal, the policy server's settings, and a
real Postfix that asks it about every recipient.

QUOR_TOOL names the quorpolicy binary. Every wait is bounded; nothing here is
timed."""
import grp
import os
import resource
import select
import shutil
import signal
import smtplib
import socket
import subprocess
import tempfile
import threading
import time
import unittest

TOOL = os.environ.get("QUOR_TOOL", "quorpolicy")
WAIT = 20  # seconds any single step may take before the test gives up

WHITE = "nonoverrideable-white ceo@example.com\noverrideable-white *@partner.example\n"
BLACK = "nonoverrideable-black *@malware.example\noverrideable-black *@spam.example\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, what):
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


class Server:
    """One `quorpolicy serve` process on a free loopback port."""

    def __init__(self, folder, lists, *args, env=None, socket_path=None, listen="127.0.0.1",
                 descriptors=None):
        self.port = free_port()
        self.where = socket_path or self.port
        self.clients = []
        self.stopping = False
        self.log_path = os.path.join(folder, "serve-%d.log" % self.port)
        self.log = open(self.log_path, "w")
        where = ["--socket", socket_path] if socket_path else [
            "--listen", "%s:%d" % (listen, self.port)]
        cmd = [TOOL, "serve"] + where + ["--threads", "2"]
        for path in lists:
            cmd += ["--list", path]
        run_env = dict(os.environ)
        run_env.pop("QUOR_HOME", None)
        run_env.update(env or {})
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors, descriptors))
                 ) if descriptors else None
        self.proc = subprocess.Popen(list(cmd) + list(args), stdout=self.log, stderr=self.log,
                                     env=run_env, preexec_fn=limit)
        wait_for(lambda: "listening on" in self.text() or self.proc.poll() is not None,
                 "the server to listen")
        if self.proc.poll() is not None:
            raise AssertionError("serve exited %s:\n%s" % (self.proc.returncode, self.text()))

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def connect(self):
        client = Client(self.where)
        self.clients.append(client)
        return client

    def stop(self):
        """Asks the server to stop (once) and returns its exit status."""
        if self.proc.poll() is None and not self.stopping:
            self.proc.send_signal(signal.SIGTERM)
        self.stopping = True
        return self.proc.wait(WAIT)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for client in self.clients:
            client.close()
        self.log.close()


class Client:
    def __init__(self, where):
        if isinstance(where, str):
            self.sock = socket.socket(socket.AF_UNIX)
            self.sock.settimeout(WAIT)
            self.sock.connect(where)
        else:
            self.sock = socket.create_connection(("127.0.0.1", where), timeout=WAIT)
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data)

    def answer(self):
        while b"\n\n" not in self.pending:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("closed with %r pending" % self.pending)
            self.pending += chunk
        line, self.pending = self.pending.split(b"\n\n", 1)
        return line.decode()

    def ask(self, sender="", recipient="rcpt@dest.example"):
        self.send(("request=smtpd_access_policy\nprotocol_state=RCPT\nclient_address=127.0.0.1\n"
                   "sender=%s\nrecipient=%s\n\n" % (sender, recipient)).encode())
        return self.answer()

    def closed(self):
        try:
            return self.sock.recv(1) == b""
        except OSError:
            return True

    def close(self):
        self.sock.close()


class ServeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quor-serve-")
        self.white = self.write("white.list", WHITE)
        self.black = self.write("black.list", BLACK)
        self.servers = []

    def tearDown(self):
        for server in self.servers:
            server.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path + ".new", "w") as f:
            f.write(text)
        os.replace(path + ".new", path)
        return path

    def serve(self, *args, lists=None, **kwargs):
        server = Server(self.dir, lists or [self.white, self.black], *args, **kwargs)
        self.servers.append(server)
        return server

    def test_decisions_by_checked_address(self):
        # One row per address --check looks at; how an address decides is
        # the deciding code's tests' business.
        cases = [
            # check, sender, recipient, answer
            ("sender", "a@malware.example", "ceo@example.com",
             "action=REJECT sender address rejected by policy"),
            ("recipient", "a@malware.example", "bob@partner.example", "action=OK"),
            ("both", "ceo@example.com", "x@spam.example",
             "action=REJECT recipient address rejected by policy"),
            ("both", "nobody@nowhere.example", "rcpt@nowhere.example", "action=DUNNO"),
        ]
        clients = {}
        for check in ("sender", "recipient", "both"):
            clients[check] = self.serve("--check", check).connect()
        for check, sender, recipient, want in cases:
            with self.subTest(check=check, sender=sender, recipient=recipient):
                self.assertEqual(want, clients[check].ask(sender, recipient))

    def test_reject_text_replaces_the_list_name(self):
        client = self.serve("--reject-text", "go away").connect()
        self.assertEqual("action=REJECT go away", client.ask("x@spam.example"))

    def test_reload_swaps_lists_without_failing_a_request(self):
        server = self.serve()
        answers, errors, stop = [], [], threading.Event()

        def keep_asking():
            try:
                client = server.connect()
                while not stop.is_set():
                    answers.append(client.ask("new@later.example"))
            except Exception as e:  # noqa: BLE001 - any failure is the finding
                errors.append(e)

        asker = threading.Thread(target=keep_asking)
        asker.start()
        try:
            wait_for(lambda: len(answers) > 50, "answers before the reload")
            self.write("black.list", BLACK + "nonoverrideable-black *@later.example\n")
            server.proc.send_signal(signal.SIGHUP)
            wait_for(lambda: answers[-1] != "action=DUNNO", "the new lists to decide")
            seen = len(answers)
            wait_for(lambda: len(answers) > seen + 50, "answers after the reload")
            # A list that fails to load keeps the lists in use.
            self.write("black.list", "no-such-membership *@x.example\n")
            server.proc.send_signal(signal.SIGHUP)
            wait_for(lambda: "reload failed" in server.text(), "the failed reload")
            seen = len(answers)
            wait_for(lambda: len(answers) > seen + 50, "answers after the failed reload")
        finally:
            stop.set()
            asker.join(WAIT)
        self.assertEqual([], errors)
        self.assertEqual(set(), set(answers) - {
            "action=DUNNO", "action=REJECT sender address rejected by policy"})
        first_reject = answers.index(
            "action=REJECT sender address rejected by policy")
        self.assertNotIn("action=DUNNO", answers[first_reject:])
        self.assertIn("lists reloaded: 5 entries", server.text())
        self.assertIn("black.list:1: unknown membership", server.text())

    def test_stop_finishes_open_requests(self):
        server = self.serve()
        client = server.connect()
        idle = server.connect()
        self.assertEqual("action=DUNNO", idle.ask("a@b.example"))
        client.send(b"request=smtpd_access_policy\nsender=ceo@example.com\n")
        time.sleep(0.2)  # let the server see the unfinished request
        server.proc.send_signal(signal.SIGTERM)
        server.stopping = True
        wait_for(idle.closed, "the idle connection to close")
        client.send(b"\n")
        self.assertEqual("action=OK", client.answer())
        self.assertEqual(0, server.stop())
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", server.port), timeout=WAIT)
        self.assertIn("stopped", server.text())

    def test_statistics_line(self):
        server = self.serve("--stats-interval", "1")
        client = server.connect()
        for sender in ("ceo@example.com", "x@spam.example", "x@spam.example", "n@n.example"):
            client.ask(sender)
        bad = server.connect()
        bad.send(b"broken\n\n")
        wait_for(bad.closed, "the malformed request's connection to close")
        wait_for(lambda: "4 requests" in server.text(), "the statistics line")
        self.assertRegex(server.text(),
                         r"4 requests \(OK 1, REJECT 2, DUNNO 1, malformed 1\); "
                         r"latency p50 \d+ us, p99 \d+ us, max \d+ us")

    def test_settings_come_from_the_installation_and_options_override_them(self):
        home = os.path.join(self.dir, "home")
        os.makedirs(os.path.join(home, "config"))
        settings = ("[policy_server]\nbacklog=5\nkeep-alive=no\nPolicyServerPort=5060\n"
                    "protocol=http\nrecv_timeout_secs=1\nsend_timeout_secs=1\nthreads=3\n"
                    "max_threads=4\nldap_cache_TTL_minutes=10\n[LDAP_SVR_1]\n"
                    "ldap_cache_TTL_minutes=10\n")
        with open(os.path.join(home, "config", "quor.ini"), "w") as f:
            f.write(settings)
        # --threads 2 is given by every Server: it wins over threads=3.
        server = self.serve(env={"QUOR_HOME": home})
        self.assertIn("2 worker threads", server.text())
        # recv_timeout_secs=1: a silent client is let go.
        client = server.connect()
        wait_for(client.closed, "the receive time-out")
        self.assertIn("connection closed: no request within 1 s", server.text())

        with open(os.path.join(home, "config", "quor.ini"), "w") as f:
            f.write(settings.replace("threads=3\n", ""))
        run = subprocess.run([TOOL, "serve", "--list", self.white], capture_output=True,
                             text=True, env=dict(os.environ, QUOR_HOME=home), timeout=WAIT)
        self.assertEqual(1, run.returncode)
        self.assertIn("could not be read (code 1609)", run.stderr)

        # A root without a settings file (as the package makes it) runs on
        # the built-in settings.
        os.remove(os.path.join(home, "config", "quor.ini"))
        bare = self.serve(env={"QUOR_HOME": home})
        self.assertIn("running on the built-in settings", bare.text())
        self.assertEqual("action=OK", bare.connect().ask("ceo@example.com"))

    @unittest.skipIf("UBSAN_OPTIONS" in os.environ,
                     "at the descriptor limit the sanitizer's own memory probe (it opens a "
                     "pipe) fails and its vptr check then reports valid objects")
    def test_descriptor_limit_pauses_accepting_once(self):
        server = self.serve("--max-connections", "100", descriptors=24)
        idle = [server.connect() for _ in range(30)]
        wait_for(lambda: "accept failed" in server.text(), "the descriptor limit")
        for client in idle:
            client.close()

        # The server frees the descriptors as it reads each closed client's
        # end; until then a new connection can still find it at the limit.
        def answers():
            try:
                return server.connect().ask("ceo@example.com") == "action=OK"
            except OSError:
                return False

        wait_for(answers, "an answer once the descriptors are free")
        # Once per episode: more than one only if freeing the descriptors raced
        # with accepting the waiting connections.
        self.assertLess(server.text().count("accept failed"), 5)
        self.assertRegex(server.text(), r"accepting again after [1-9]\d* failed accepts")

    def test_connections_over_the_limit_are_closed_and_counted(self):
        server = self.serve("--max-connections", "2", "--stats-interval", "1")
        first = [server.connect(), server.connect()]
        for client in first:
            self.assertEqual("action=DUNNO", client.ask("a@b.example"))
        wait_for(server.connect().closed, "the third connection to close")
        first[0].close()

        def third_answers():
            try:
                return server.connect().ask("ceo@example.com") == "action=OK"
            except OSError:
                return False
        wait_for(third_answers, "a connection within the limit")
        wait_for(lambda: "connections closed at once: " in server.text(), "the statistics")
        self.assertRegex(server.text(), r"closed at once: [1-9]\d* over the limit, 0 not allowed")
        self.assertEqual(1, server.text().count("2 connections open, the limit"))

    def test_a_request_must_arrive_whole_within_the_receive_time_out(self):
        server = self.serve("--recv-timeout", "1")
        client = server.connect()
        request = b"request=smtpd_access_policy\nsender=ceo@example.com\n\n"
        for i, byte in enumerate(request):
            client.send(bytes([byte]))
            if select.select([client.sock], [], [], 0.25)[0]:
                break
        self.assertTrue(client.closed(), "the trickling client got an answer")
        self.assertLess(i, len(request) - 1)
        self.assertIn("connection closed: request not complete within 1 s", server.text())

    def test_socket_of_a_running_server_is_not_taken_over(self):
        path = os.path.join(self.dir, "policy")
        first = self.serve(socket_path=path)
        self.assertEqual(0o660, os.stat(path).st_mode & 0o777)
        second = subprocess.run([TOOL, "serve", "--list", self.white, "--socket", path],
                                capture_output=True, text=True, timeout=WAIT)
        self.assertEqual(1, second.returncode)
        self.assertIn(path + " is the socket of a running server; not taking it over",
                      second.stderr)
        self.assertEqual("action=OK", first.connect().ask("ceo@example.com"))
        # A socket left by a killed server is stale: the next one replaces it.
        first.proc.kill()
        first.proc.wait(WAIT)
        group = "nogroup" if os.geteuid() == 0 else grp.getgrgid(os.getgid()).gr_name
        third = self.serve("--socket-mode", "0600", "--socket-group", group, socket_path=path)
        self.assertEqual(0o600, os.stat(path).st_mode & 0o777)
        self.assertEqual(grp.getgrnam(group).gr_gid, os.stat(path).st_gid)
        self.assertEqual("action=OK", third.connect().ask("ceo@example.com"))
        # On exit a server removes its own socket file, and leaves one that
        # is no longer its own.
        self.assertEqual(0, self.serve(socket_path=path + "2").stop())
        self.assertFalse(os.path.exists(path + "2"))
        os.unlink(path)
        with socket.socket(socket.AF_UNIX) as other:
            other.bind(path)
            replaced = os.stat(path).st_ino
            self.assertEqual(0, third.stop())
            self.assertEqual(replaced, os.stat(path).st_ino)

    def test_reload_refuses_lists_being_written_or_shrunk(self):
        big = BLACK + "overrideable-black *@later.example\noverrideable-black *@more.example\n"
        cases = [
            # list text, --allow-shrink, reloaded, why
            ("nonoverrideable-black *", False, False, "the file is still being written"),
            (BLACK.split("\n")[0] + "\n", False, False, "would go from 4 entries to 1"),
            (BLACK, False, True, "lists reloaded: 4 entries"),
            ("", True, True, "black.list: no entries"),
        ]
        for text, shrink, reloaded, why in cases:
            with self.subTest(text=text, shrink=shrink):
                self.write("black.list", big)
                server = self.serve(*(["--allow-shrink"] if shrink else []))
                client = server.connect()
                self.write("black.list", text)
                server.proc.send_signal(signal.SIGHUP)
                wait_for(lambda: "lists reloaded" in server.text() or "reload failed" in
                         server.text(), "the reload")
                self.assertIn(why, server.text())
                self.assertEqual(reloaded, "lists reloaded" in server.text())
                self.assertEqual("action=DUNNO", client.ask("nobody@nowhere.example"))
                self.assertEqual("action=DUNNO" if reloaded else
                                 "action=REJECT sender address rejected by policy",
                                 client.ask("x@later.example"))

    def big_list_server(self):
        big = self.write("big.list", "".join("overrideable-black u%d@d%d.example\n" % (i, i % 999)
                                             for i in range(200000)))
        server = self.serve(lists=[big])
        server.proc.send_signal(signal.SIGHUP)
        wait_for(lambda: "reloading the lists" in server.text(), "the first reload")
        for asked in range(1, 4):
            server.proc.send_signal(signal.SIGHUP)
            wait_for(lambda: server.text().count("one more follows") == asked, "the reload asked")
        return server

    def test_reloads_asked_during_one_collapse_into_one(self):
        server = self.big_list_server()
        wait_for(lambda: server.text().count("lists reloaded") == 2, "the collapsed reload")
        self.assertEqual(0, server.stop())
        self.assertEqual(2, server.text().count("reloading the lists"))

    def test_stop_cancels_a_reload_in_progress(self):
        server = self.big_list_server()
        self.assertEqual(0, server.stop())
        self.assertIn("reload abandoned: stopping", server.text())
        self.assertNotIn("lists reloaded", server.text())

    def test_clients_outside_allow_from_are_closed_and_counted(self):
        refused = self.serve("--allow-from", "192.0.2.0/24,2001:db8::/32", "--stats-interval", "1",
                             listen="0.0.0.0")
        wait_for(refused.connect().closed, "the connection to close")
        wait_for(lambda: "0 over the limit, 1 not allowed" in refused.text(), "the statistics")
        allowed = self.serve("--allow-from", "127.0.0.0/8", listen="0.0.0.0")
        self.assertEqual("action=OK", allowed.connect().ask("ceo@example.com"))

    @unittest.skipIf(os.geteuid() != 0, "dropping privileges needs root")
    def test_user_gives_up_root_after_binding(self):
        import pwd
        self.assertIn("warning: running as root", self.serve().text())
        server = self.serve("--user", "nobody")
        with open("/proc/%d/status" % server.proc.pid) as f:
            uids = [line.split()[1:] for line in f if line.startswith("Uid:")][0]
        self.assertEqual([str(pwd.getpwnam("nobody").pw_uid)] * 4, uids)
        self.assertEqual("action=OK", server.connect().ask("ceo@example.com"))

    def test_bad_arguments(self):
        cases = [
            ([], 2, "at least one --list FILE (or --db) is required"),
            (["--list", os.path.join(self.dir, "missing.list")], 1, "cannot open list file"),
            (["--list", self.white, "--listen", "127.0.0.1"], 2, "wants ADDRESS:PORT"),
            (["--list", self.white, "--reject-text", "two\nlines"], 2, "must be one line"),
            (["--list", self.white, "--listen", "0.0.0.0:1"], 2,
             "is not a loopback address: give --allow-from"),
            (["--list", self.white, "--listen", "0.0.0.0:1", "--allow-from", "10.1.0.0/8"], 2,
             "'10.1.0.0/8' has bits set after its prefix"),
            (["--list", self.white, "--listen", "0.0.0.0:1", "--allow-from", "10.0.0.0/33"], 2,
             "'10.0.0.0/33' is not ADDRESS/BITS"),
        ]
        for args, status, message in cases:
            with self.subTest(args=args):
                run = subprocess.run([TOOL, "serve"] + args, capture_output=True, text=True,
                                     timeout=WAIT)
                self.assertEqual(status, run.returncode, run.stderr)
                self.assertIn(message, run.stderr)


def postfix_unavailable():
    if os.geteuid() != 0:
        return "a Postfix instance needs root"
    if shutil.which("postfix") is None and not os.path.exists("/usr/sbin/postfix"):
        return "Postfix is not installed (Debian package postfix)"
    try:
        import pwd
        pwd.getpwnam("postfix")
    except KeyError:
        return "there is no postfix user"
    return None


MAIN_CF = """compatibility_level = 3.6
queue_directory = {dir}/queue
data_directory = {dir}/data
mail_owner = postfix
setgid_group = postdrop
myhostname = quorpolicy-test.localdomain
mydestination =
relay_domains =
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_relay_restrictions = permit_mynetworks, reject
smtpd_recipient_restrictions = check_policy_service inet:127.0.0.1:{policy}, permit
default_transport = discard
relay_transport = discard
local_transport = discard
alias_maps =
alias_database =
smtputf8_enable = no
maillog_file = {dir}/maillog
maillog_file_prefixes = {dir}
"""

MASTER_CF = """127.0.0.1:{smtp} inet n - n - - smtpd
pickup unix n - n 60 1 pickup
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
proxymap unix - - n - - proxymap
showq unix n - n - - showq
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
"""


@unittest.skipIf(postfix_unavailable(), postfix_unavailable() or "")
class PostfixTest(unittest.TestCase):
    """A scratch Postfix on a loopback port, asking `quorpolicy serve` about
    every recipient and delivering what it accepts to the discard transport."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quor-postfix-")
        os.chmod(self.dir, 0o755)
        lists = []
        for name, text in (("white.list", WHITE), ("black.list", BLACK)):
            lists.append(os.path.join(self.dir, name))
            with open(lists[-1], "w") as f:
                f.write(text)
        self.server = Server(self.dir, lists, "--reject-text", "listed by quorpolicy")
        self.smtp_port = free_port()
        conf = os.path.join(self.dir, "conf")
        for sub in ("conf", "queue", "data"):
            os.makedirs(os.path.join(self.dir, sub))
        shutil.chown(os.path.join(self.dir, "data"), "postfix")
        with open(os.path.join(conf, "main.cf"), "w") as f:
            f.write(MAIN_CF.format(dir=self.dir, policy=self.server.port))
        with open(os.path.join(conf, "master.cf"), "w") as f:
            f.write(MASTER_CF.format(smtp=self.smtp_port))
        self.conf = conf
        start = subprocess.run(["postfix", "-c", conf, "start"], capture_output=True, text=True,
                               timeout=60)
        if start.returncode != 0:
            self.tearDown()
            self.fail("postfix did not start: %s%s\n%s" % (start.stdout, start.stderr,
                                                           self.maillog()))
        wait_for(self.smtp_listens, "Postfix to listen")

    def tearDown(self):
        subprocess.run(["postfix", "-c", self.conf, "stop"], capture_output=True, timeout=60)
        self.server.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def maillog(self):
        try:
            with open(os.path.join(self.dir, "maillog")) as f:
                return f.read()
        except OSError:
            return ""

    def smtp_listens(self):
        try:
            socket.create_connection(("127.0.0.1", self.smtp_port), timeout=1).close()
            return True
        except OSError:
            return False

    def send(self, sender):
        with smtplib.SMTP("127.0.0.1", self.smtp_port, timeout=WAIT) as smtp:
            return smtp.sendmail(sender, ["bob@dest.example"], "Subject: test\r\n\r\nbody\r\n")

    def test_black_listed_sender_is_refused_and_others_accepted(self):
        # A trailing dot and a quoted local part holding "@" are the same
        # black-listed domain, as Postfix passes them on.
        for sender in ("someone@spam.example", "x@malware.example.",
                       '"x@corp.example"@malware.example'):
            with self.subTest(sender=sender):
                with self.assertRaises(smtplib.SMTPRecipientsRefused) as refused:
                    self.send(sender)
                code, text = refused.exception.recipients["bob@dest.example"]
                self.assertEqual(5, code // 100, text)
                self.assertIn(b"listed by quorpolicy", text)
        for sender in ("ceo@example.com", "unknown@nowhere.example", ""):
            with self.subTest(sender=sender):
                self.assertEqual({}, self.send(sender))
        wait_for(lambda: self.maillog().count("status=sent") >= 3, "the discard deliveries")


if __name__ == "__main__":
    unittest.main(verbosity=2)
