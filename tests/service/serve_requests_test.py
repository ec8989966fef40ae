"""Requests as they reach `quorpolicy serve` over a real socket: the options
that shape a decision (the delimiter, the checked address, the black action
and header), and each request the service must not understand, which ends
the connection without an answer. The forms of an address are the deciding
code's tests' business.

QUOR_TOOL names the quorpolicy binary. Every wait is bounded."""
import os
import shutil
import socket
import tempfile
import unittest

from serve_test import WAIT, Server, wait_for

WHITE = "nonoverrideable-white postmaster@*\n"
BLACK = ("nonoverrideable-black *@malware.example\n"
         "nonoverrideable-black user@tagged.example\n")
REJECT = b"action=REJECT sender address rejected by policy\n\n"
CLOSED = b""


def request(sender, recipient="r@dest.example"):
    return ("request=smtpd_access_policy\nprotocol_state=RCPT\nqueue_id=\n"
            "client_address=192.0.2.7\nsender=%s\nrecipient=%s\n\n"
            % (sender, recipient)).encode()


class ServeRequestsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="quor-requests-")
        lists = []
        for name, text in (("white.list", WHITE), ("black.list", BLACK)):
            lists.append(os.path.join(self.dir, name))
            with open(lists[-1], "w", encoding="utf-8") as f:
                f.write(text)
        self.servers = {
            "plain": Server(self.dir, lists, "--check", "both", "--recipient-delimiter", "+"),
            "warn": Server(self.dir, lists, "--black-action", "warn", "--prepend-header",
                           "X-Quor-Policy", "--log-decisions"),
        }

    def tearDown(self):
        for server in self.servers.values():
            server.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def reply(self, server, raw):
        """Everything the server sends back until it closes or answers."""
        with socket.create_connection(("127.0.0.1", server.port), timeout=WAIT) as sock:
            try:
                sock.sendall(raw)
            except (BrokenPipeError, ConnectionResetError):
                pass  # closed before it took everything: what follows tells
            got = b""
            while not got.endswith(b"\n\n"):
                try:
                    chunk = sock.recv(4096)
                except ConnectionResetError:
                    break
                if not chunk:
                    break
                got += chunk
            return got

    def test_requests(self):
        rows = [
            ("plain", "black-listed", request("x@malware.example"), REJECT),
            ("plain", "sub-address", request("user+tag@tagged.example"), REJECT),
            ("plain", "white recipient beats black sender",
             request("x@malware.example", "postmaster@dest.example"), b"action=OK\n\n"),
            ("warn", "WARN with a header", request("x@malware.example"),
             b"action=PREPEND X-Quor-Policy: black-listed\n\n"),
            ("warn", "white-listed with a header", request("postmaster@a.example"),
             b"action=PREPEND X-Quor-Policy: white-listed\n\n"),
            ("plain", "line without =", b"request=smtpd_access_policy\nsender\n\n", CLOSED),
            ("plain", "over-long line, before its end",
             b"request=smtpd_access_policy\nsender=" + b"a" * 5000, CLOSED),
            ("plain", "no end within 64 KiB",
             b"request=smtpd_access_policy\n" + b"x=123456789\n" * 6000, CLOSED),
            ("plain", "no request type", b"sender=x@y.example\n\n", CLOSED),
            ("plain", "unknown request type", b"request=junk\x1b[2J\nsender=x@y\n\n", CLOSED),
            # A connection cut off before does not stop the server.
            ("plain", "a request after the refusals", request("x@malware.example"), REJECT),
        ]
        for server, name, raw, want in rows:
            with self.subTest(name):
                self.assertEqual(want, self.reply(self.servers[server], raw))

        server = self.servers["plain"]
        wait_for(lambda: server.text().count("not understood") == 5, "the refusals' log lines")
        log = server.text()
        self.assertIn("request from 127.0.0.1 not understood, connection closed without an "
                      "answer: unknown request type 'junk\\x1b[2J'", log)
        self.assertIn("black-listed action=REJECT by=sender list=%s line=1 "
                      "pattern=*@malware.example" % os.path.join(self.dir, "black.list"), log)
        self.assertEqual(2, self.servers["warn"].text().count("decision: "))


if __name__ == "__main__":
    unittest.main(verbosity=2)
