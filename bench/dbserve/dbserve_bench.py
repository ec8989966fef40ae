#!/usr/bin/env python3
"""`quorpolicy serve --db` on a large policy database, beside the same entries
in list files and beside a service that asks the database once per request.

    source .ci/services.sh && start_services
    python3 bench/dbserve/dbserve_bench.py --tool build/tools/quorpolicy/quorpolicy \
        --client build/bench/serve/policy_load [--entities 10000] [--members 100]

The data is generated in SQL on a scratch PostgreSQL database (the one of
QUOR_TEST_PG_PORT) and an SQLite one: --entities wildcard entities
"*@dN.example", as many address groups of --members members (three in five
exact addresses "uK@mN.example", the rest "*@hK.mN.example"), group N bound
to entity N (even N non-overrideable black, odd N overrideable white). The
requests name 100,000 distinct recipients "rJ@dN.example"; half of the
senders are members of the recipient's group, half unknown.

It prints one markdown table: decisions/s and latency at 8 connections, and
the same for the requests against the list file below (what the shared cores
give a service without the database); the full load time of the database
against loading the same entries from one list file; resident bytes per entry
(resident size of the loaded service less that of a service on the sample
data, over the entries); propagation from the return of `admin group modify`
(its commit is just before) to two serve processes both answering with the
change, under a load of --rate requests/s spread over both, p50 and p99 over
--changes changes on PostgreSQL and --sqlite-changes on SQLite; and the same
request load through a policy service that runs one indexed SQL query per
request against the same PostgreSQL (needs python3-psycopg2), with the ratio.
Not a test: it asserts nothing.
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PG_PORT = os.environ.get("QUOR_TEST_PG_PORT")
BLACK = "action=REJECT sender address rejected by policy"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def psql(sql, database="postgres"):
    return subprocess.run(["psql", "-h", "127.0.0.1", "-p", PG_PORT, "-U", "quor", "-d", database,
                           "-v", "ON_ERROR_STOP=1", "-qAtc", sql], check=True,
                          capture_output=True, text=True, timeout=3600).stdout


def member(group, k):
    return "u%d@m%d.example" % (k, group) if k % 5 < 3 else "*@h%d.m%d.example" % (k, group)


def sender_of(group, k):
    return "u%d@m%d.example" % (k, group) if k % 5 < 3 else "x@h%d.m%d.example" % (k, group)


def membership(group):
    return "nonoverrideable-black" if group % 2 == 0 else "overrideable-white"


def generate_sql(entities, members, series):
    """Statements that fill a fresh root's database; `series(n, alias)` is a
    table expression of the integers 1..n as column i, named `alias`."""
    one = lambda n: series(n, "s")  # noqa: E731
    return [
        "INSERT INTO entities (entity_id, entity_name, entity_type) SELECT 1000 + i, "
        "'*@d' || i || '.example', 6 FROM %s" % one(entities),
        "INSERT INTO named_objects (object_id, kind, name, content) SELECT 1000 + i, 5, "
        "'group ' || i, '' FROM %s" % one(entities),
        "INSERT INTO entity_named_objects (entity_id, object_id, kind) SELECT 1, 1000 + i, 5 "
        "FROM %s" % one(entities),
        "INSERT INTO address_group_members (group_id, position, address) SELECT 1000 + g.i, "
        "k.i - 1, CASE WHEN (k.i - 1) %% 5 < 3 THEN 'u' || (k.i - 1) || '@m' || g.i || "
        "'.example' ELSE '*@h' || (k.i - 1) || '.m' || g.i || '.example' END FROM %s, %s" % (
            series(entities, "g"), series(members, "k")),
        "INSERT INTO entity_list_bindings (entity_id, group_id, membership, position) SELECT "
        "1000 + i, 1000 + i, CASE WHEN i %% 2 = 0 THEN 'nonoverrideable-black' ELSE "
        "'overrideable-white' END, 0 FROM %s" % one(entities),
        "UPDATE policy_version SET version = version + 1",
    ]


class Serve:
    def __init__(self, args, home, folder, extra):
        self.port = free_port()
        self.log_path = os.path.join(folder, "serve-%d.log" % self.port)
        env = dict(os.environ, QUOR_HOME=home)
        with open(self.log_path, "w") as log:
            self.proc = subprocess.Popen([args.tool, "serve", "--listen",
                                          "127.0.0.1:%d" % self.port, "--threads", "2"] + extra,
                                         stdout=log, stderr=log, env=env)
        deadline = time.monotonic() + 1800
        while "listening on" not in self.text():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise SystemExit("serve did not start:\n" + self.text()[-2000:])
            time.sleep(0.2)

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def rss(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1)) * 1024

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(60)


def ask(port, sender, recipient):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        s.sendall(("request=smtpd_access_policy\nprotocol_state=RCPT\nsender=%s\nrecipient=%s"
                   "\n\n" % (sender, recipient)).encode())
        data = b""
        while not data.endswith(b"\n\n"):
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    return data.decode().strip()


def run_client(args, port, connections, requests, seconds, rate=0):
    out = subprocess.run([args.client, "--target", "127.0.0.1:%d" % port, "--connections",
                          str(connections), "--seconds", str(seconds), "--senders", requests,
                          "--rate", str(rate)], capture_output=True, text=True,
                         timeout=seconds + 300)
    return dict(kv.split("=", 1) for kv in out.stdout.split())


def pct(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100.0 * len(values)))]


def propagation(args, home, servers, requests, changes):
    """Seconds from the return of each `admin group modify` to both servers
    answering with the change."""
    load = [subprocess.Popen([args.client, "--target", "127.0.0.1:%d" % s.port, "--connections",
                              "4", "--seconds", "100000", "--senders", requests, "--rate",
                              str(args.rate // len(servers))], stdout=subprocess.DEVNULL)
            for s in servers]
    time.sleep(2)
    env = dict(os.environ, QUOR_HOME=home)
    times = []
    for c in range(changes):
        group = 2 * (c % (args.entities // 2)) + 2  # a black-listed group
        probe = "probe%d@new.example" % c
        cmd = [args.tool, "admin", "group", "modify", "--id", str(1000 + group), "--name",
               "group %d" % group]
        for k in range(args.members):
            cmd += ["--member", member(group, k)]
        subprocess.run(cmd + ["--member", probe], check=True, env=env, capture_output=True)
        committed = time.monotonic()
        pending = list(servers)
        while pending:
            pending = [s for s in pending
                       if ask(s.port, probe, "r@d%d.example" % group) != BLACK]
            if time.monotonic() - committed > 120:
                raise SystemExit("change %d not seen within 120 s" % c)
            time.sleep(0.005)
        times.append(time.monotonic() - committed)
    for client in load:
        client.terminate()
        client.wait(30)
    return times


SQL_SERVICE = r'''
import socket, socketserver, sys, psycopg2
conninfo, port = sys.argv[1], int(sys.argv[2])
QUERY = """SELECT b.membership FROM entities e
  JOIN entity_list_bindings b ON b.entity_id = e.entity_id
  JOIN address_group_members m ON m.group_id = b.group_id
 WHERE e.entity_type = 6 AND e.entity_name = ANY(%s) AND m.address = ANY(%s) LIMIT 1"""
def keys(address):
    local, _, domain = address.lower().rpartition("@")
    out, parts = [address.lower(), "*@" + domain], domain.split(".")
    for i in range(1, len(parts)):
        out.append("*@*." + ".".join(parts[i:]))
    return out
class H(socketserver.StreamRequestHandler):
    def handle(self):
        db = psycopg2.connect(conninfo)
        db.autocommit = True
        cur, attrs = db.cursor(), {}
        for line in self.rfile:
            line = line.decode().rstrip("\r\n")
            if line:
                name, _, value = line.partition("=")
                attrs[name] = value
                continue
            cur.execute(QUERY, (keys(attrs.get("recipient", "")), keys(attrs.get("sender", ""))))
            row = cur.fetchone()
            action = "DUNNO" if row is None else (
                "REJECT sender address rejected by policy" if "black" in row[0] else "OK")
            self.wfile.write(("action=%s\n\n" % action).encode())
            attrs = {}
class S(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
S(("127.0.0.1", port), H).serve_forever()
'''


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--client", required=True)
    parser.add_argument("--entities", type=int, default=10000)
    parser.add_argument("--members", type=int, default=100)
    parser.add_argument("--recipients", type=int, default=100000)
    parser.add_argument("--seconds", type=int, default=10)
    parser.add_argument("--changes", type=int, default=100)
    parser.add_argument("--sqlite-changes", type=int, default=100,
                        help="changes measured on SQLite")
    parser.add_argument("--rate", type=int, default=5000)
    args = parser.parse_args()
    if not PG_PORT:
        raise SystemExit("no PostgreSQL: source .ci/services.sh && start_services")
    folder = tempfile.mkdtemp(prefix="quor-dbbench-")
    rows = []

    def row(what, value):
        rows.append((what, value))
        print("| %s | %s |" % (what, value), flush=True)

    try:
        n, m = args.entities, args.members
        entries = n * m
        # Requests: distinct recipients, half the senders listed for them.
        requests = os.path.join(folder, "requests")
        with open(requests, "w") as f:
            for j in range(args.recipients):
                g = j % n + 1
                sender = sender_of(g, j % m) if j % 4 < 2 else "nobody%d@else.example" % j
                f.write("%s r%d@d%d.example\n" % (sender, j, g))
        # The same entries as one list file.
        listfile = os.path.join(folder, "all.list")
        with open(listfile, "w") as f:
            for g in range(1, n + 1):
                for k in range(m):
                    f.write("%s %s\n" % (membership(g), member(g, k)))

        roots = {}
        base = os.path.join(folder, "base")
        subprocess.run([args.tool, "init", base], check=True, capture_output=True)
        name = "quor_bench_%d" % os.getpid()
        psql("CREATE DATABASE " + name)
        roots["pgsql"] = os.path.join(folder, "pgsql")
        subprocess.run([args.tool, "init", roots["pgsql"], "--pgsql",
                        "Servername=127.0.0.1 Port=%s Database=%s Username=quor Password=x" % (
                            PG_PORT, name)], check=True, capture_output=True)
        started = time.monotonic()
        psql("SET session_replication_role = replica;" + ";".join(generate_sql(
            n, m, lambda k, a: "generate_series(1, %d) AS %s(i)" % (k, a))), name)
        psql("ANALYZE", name)
        print("generated PostgreSQL data in %.1f s" % (time.monotonic() - started), flush=True)
        roots["sqlite"] = os.path.join(folder, "sqlite")
        subprocess.run([args.tool, "init", roots["sqlite"]], check=True, capture_output=True)
        started = time.monotonic()
        sqlite_series = ("(WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s "
                         "WHERE i < %d) SELECT i FROM s) AS %s")
        subprocess.run(["sqlite3", os.path.join(roots["sqlite"], "data", "quorpolicy.db")],
                       input="BEGIN;" + ";".join(generate_sql(n, m, lambda k, a: sqlite_series % (k, a)))
                       + ";COMMIT;", text=True, check=True, capture_output=True)
        print("generated SQLite data in %.1f s" % (time.monotonic() - started), flush=True)

        print("| measure | value |\n|---|---|", flush=True)
        empty = Serve(args, base, folder, ["--db"])
        empty_rss = empty.rss()
        empty.stop()
        files = Serve(args, base, folder, ["--list", listfile])
        file_ms = int(re.search(r"loaded in (\d+) ms", files.text()).group(1))
        row("entries (entities x members)", "{:,} ({:,} x {:,})".format(entries, n, m))
        row("load of the list file", "%d ms" % file_ms)
        # The same requests against the list file: what the shared cores
        # alone give, for the latency of serve --db below.
        f = run_client(args, files.port, 8, requests, args.seconds)
        row("serve --list (the same entries), 8 connections",
            "%s decisions/s, p50 %s us, p99 %s us" % (f["rps"], f["p50_us"], f["p99_us"]))
        files.stop()
        for backend in ("pgsql", "sqlite"):
            servers = [Serve(args, roots[backend], folder, ["--db"]) for _ in range(2)]
            load_ms = int(re.search(r"policy database lists of version \d+ in use \(from the "
                                    r"database\): .* in (\d+) ms", servers[0].text()).group(1))
            row("%s: full load of the database" % backend,
                "%d ms (%.2fx the list file)" % (load_ms, load_ms / max(1, file_ms)))
            if backend == "pgsql":
                row("resident bytes per entry",
                    "%.0f" % ((servers[0].rss() - empty_rss) / entries))
                f = run_client(args, servers[0].port, 8, requests, args.seconds)
                decisions = float(f["rps"])
                row("serve --db, 8 connections", "%s decisions/s, p50 %s us, p99 %s us "
                    "(ok %s, reject %s, dunno %s, errors %s)" % (
                        f["rps"], f["p50_us"], f["p99_us"], f["ok"], f["reject"], f["dunno"],
                        f["errors"]))
            times = propagation(args, roots[backend], servers, requests,
                                args.changes if backend == "pgsql" else args.sqlite_changes)
            row("%s: propagation to both servers under %d requests/s (%d changes)" % (
                backend, args.rate, len(times)),
                "p50 %.0f ms, p99 %.0f ms, max %.0f ms" % (
                    pct(times, 50) * 1000, pct(times, 99) * 1000, max(times) * 1000))
            # The services' own time for those loads, as they log it.
            loads = [int(ms) for s in servers for ms in re.findall(
                r"\(from the database, [^)]*\): .* in (\d+) ms", s.text())]
            if loads:
                row("%s: loads of changed groups in the services" % backend,
                    "p50 %d ms, p99 %d ms (%d loads)" % (pct(loads, 50), pct(loads, 99),
                                                         len(loads)))
            for s in servers:
                s.stop()

        try:
            import psycopg2  # noqa: F401
        except ImportError:
            row("one SQL query per request", "skipped: python3-psycopg2 is not installed")
            return
        psql("CREATE INDEX IF NOT EXISTS bench_members_by_address ON address_group_members "
             "(address)", name)
        port = free_port()
        service = subprocess.Popen([sys.executable, "-c", SQL_SERVICE,
                                    "host=127.0.0.1 port=%s dbname=%s user=quor" % (PG_PORT, name),
                                    str(port)])
        try:
            deadline = time.monotonic() + 60
            while True:
                try:
                    if ask(port, sender_of(2, 0), "r@d2.example") == BLACK:
                        break
                except OSError:
                    pass
                if time.monotonic() > deadline:
                    raise SystemExit("the query-per-request service did not answer")
                time.sleep(0.2)
            f = run_client(args, port, 8, requests, args.seconds)
            row("one SQL query per request, 8 connections",
                "%s decisions/s, p50 %s us, p99 %s us (ok %s, reject %s, errors %s); serve --db "
                "is %.1fx" % (f["rps"], f["p50_us"], f["p99_us"], f["ok"], f["reject"],
                              f["errors"], decisions / max(1.0, float(f["rps"]))))
        finally:
            service.terminate()
            service.wait(30)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
        try:
            psql("DROP DATABASE IF EXISTS quor_bench_%d WITH (FORCE)" % os.getpid())
        except subprocess.CalledProcessError:
            pass


if __name__ == "__main__":
    main()
