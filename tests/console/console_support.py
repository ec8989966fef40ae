"""A scratch installation root with the sample data and passwords, and the
built `quorpolicy console` serving it, for the console's API and browser
tests. QUOR_TOOL names the quorpolicy binary; QUOR_TEST_PG_PORT a scratch
PostgreSQL server (see .ci/services.sh)."""
import http.client
import json
import os
import shutil
import subprocess
import tempfile
import uuid

TOOL = os.environ.get("QUOR_TOOL", "quorpolicy")
PG_PORT = os.environ.get("QUOR_TEST_PG_PORT")
BACKENDS = ["sqlite"] + (["pgsql"] if PG_PORT else [])
PASSWORDS = {"root": "root-secret", "alice": "alice-secret", "bob": "bob-secret"}


def psql(sql):
    subprocess.run(["psql", "-h", "127.0.0.1", "-p", PG_PORT, "-U", "quor", "-d", "postgres",
                    "-v", "ON_ERROR_STOP=1", "-qAtc", sql], check=True, capture_output=True,
                   text=True, timeout=60)


class Console:
    """`quorpolicy console` on a fresh root of one backend."""

    def __init__(self, backend, *options, scheme="http"):
        self.dir = tempfile.mkdtemp(prefix="quor-console-")
        self.database = None
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("QUOR_HOME", "QUOR_DB_DIR", "QUOR_DB_INI", "ODBCINI")}
        root = os.path.join(self.dir, "root")
        args = [TOOL, "init", root]
        if backend == "pgsql":
            self.database = "quor_console_" + uuid.uuid4().hex[:10]
            psql("CREATE DATABASE " + self.database)
            args += ["--pgsql", "Servername=127.0.0.1 Port=%s Database=%s Username=quor "
                     "Password=s3cret" % (PG_PORT, self.database)]
        subprocess.run(args, check=True, capture_output=True, env=self.env, timeout=120)
        self.env["QUOR_HOME"] = root
        for name, password in PASSWORDS.items():
            subprocess.run([TOOL, "admin", "passwd", name], input=password + "\n", text=True,
                           check=True, capture_output=True, env=self.env, timeout=60)
        self.scheme = scheme
        self.options = [o(self.dir) if callable(o) else o for o in options]
        self.process = subprocess.Popen([TOOL, "console", "--listen", "127.0.0.1:0"] + self.options,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, env=self.env)
        line = self.process.stdout.readline()
        if not line.startswith("listening on "):
            self.close()
            raise RuntimeError("the console did not start: %r %s" % (
                line, self.process.stderr.read()))
        self.port = int(line.rsplit(":", 1)[1])

    def url(self, path="/"):
        return "%s://127.0.0.1:%d%s" % (self.scheme, self.port, path)

    def tool(self, *args):
        return subprocess.run([TOOL] + list(args), capture_output=True, text=True,
                              env=self.env, timeout=60)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)
        if self.database:
            psql("DROP DATABASE IF EXISTS %s WITH (FORCE)" % self.database)


class Client:
    """One browser's worth of state: the session cookie and CSRF token."""

    def __init__(self, port, context=None):
        self.port = port
        self.context = context
        self.cookie = None
        self.csrf = None

    def request(self, method, path, body=None, raw=None, csrf=True, headers=None):
        if self.context is not None:
            conn = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=60,
                                               context=self.context)
        else:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        sent = dict(headers or {})
        if self.cookie:
            sent["Cookie"] = self.cookie
        if csrf and self.csrf:
            sent["X-CSRF-Token"] = self.csrf
        data = raw if raw is not None else (None if body is None else json.dumps(body))
        if data is not None:
            sent["Content-Type"] = "application/json"
        conn.request(method, path, body=data, headers=sent)
        res = conn.getresponse()
        text = res.read().decode("utf-8")
        result = (res.status, json.loads(text) if text else None, res)
        conn.close()
        return result

    def sign_in(self, name, password=None):
        status, body, res = self.request(
            "POST", "/api/session", {"admin": name, "password": password or PASSWORDS[name]})
        if status == 200:
            self.cookie = res.getheader("Set-Cookie").split(";", 1)[0]
            self.csrf = body["csrf"]
        return status, body, res
