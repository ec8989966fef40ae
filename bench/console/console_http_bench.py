"""The web console under load: 8 administrators signed in at once, each
listing and changing address groups over HTTP, on a database of 20,000
address groups, on SQLite and (when QUOR_TEST_PG_PORT names a scratch
server) PostgreSQL.

The organisation follows the getIds benchmark's: entity 1 *@*.example covers
every other; administrators 2..9 manage *@*.d<k>.example (k = 0..7);
entities 10..49 are *@h<j>.d<j mod 16>.example, children of an
administrator's entity when j mod 16 < 8; group i (0..19999) is linked to
entity (i mod 49) + 1 and has one member.

Each administrator's thread runs ROUNDS cycles of
    GET list, POST create, GET list, PUT modify, GET list, DELETE
on groups it made itself, so the number of groups stays level. Every answer
must have its expected status; a wrong one fails the run (exit status 1).
Reported per endpoint: requests, requests/s (of the whole run's wall time),
median and 99th percentile latency in ms.

    QUOR_TOOL=build/tools/quorpolicy/quorpolicy python3 bench/console/console_http_bench.py [ROUNDS]

QUOR_CONSOLE_THREADS, when set, is passed to the console as --threads.
"""
import http.client
import json
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "console"))
from console_support import BACKENDS, Client, Console, psql  # noqa: E402

ADMINS = int(sys.argv[2]) if len(sys.argv) > 2 else 8
GROUPS = 20000
ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 25

ORGANISATION = """
DELETE FROM address_group_members;
DELETE FROM entity_named_objects;
DELETE FROM rule_named_objects;
DELETE FROM rules;
DELETE FROM named_objects;
DELETE FROM admin_entities;
DELETE FROM administrators;
DELETE FROM entities;
INSERT INTO entities (entity_id, entity_name, entity_type) VALUES (1, '*@*.example', 6);
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 7)
  INSERT INTO entities (entity_id, entity_name, entity_type)
  SELECT i + 2, '*@*.d' || i || '.example', 6 FROM k;
WITH RECURSIVE j(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM j WHERE i < 39)
  INSERT INTO entities (entity_id, entity_name, entity_type)
  SELECT i + 10, '*@h' || i || '.d' || (i %% 16) || '.example', 6 FROM j;
INSERT INTO administrators (admin_id, admin_name, is_root) VALUES (1, 'root', 1);
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 7)
  INSERT INTO administrators (admin_id, admin_name, is_root) SELECT i + 2, 'admin' || i, 0 FROM k;
INSERT INTO admin_entities (admin_id, entity_id, position) VALUES (1, 1, 0);
WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < 7)
  INSERT INTO admin_entities (admin_id, entity_id, position) SELECT i + 2, i + 2, 0 FROM k;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %(last)d)
  INSERT INTO named_objects (object_id, kind, name, content)
  SELECT 100000 + i, 5, 'group ' || i, '<mas><ma>m' || i || '@x.example</ma></mas>' FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %(last)d)
  INSERT INTO entity_named_objects (entity_id, object_id, kind)
  SELECT (i %% 49) + 1, 100000 + i, 5 FROM n;
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %(last)d)
  INSERT INTO address_group_members (group_id, position, address)
  SELECT 100000 + i, 0, 'm' || i || '@x.example' FROM n;
""" % {"last": GROUPS - 1}


def load(console, backend):
    root = console.env["QUOR_HOME"]
    with open(os.path.join(root, "config", "database.ini")) as f:
        ini = dict((k.strip(), v.strip()) for k, v in
                   (l.split("=", 1) for l in f.read().splitlines() if "=" in l))
    database = ini["Database"]
    if backend == "pgsql":
        subprocess.run(["psql", "-h", "127.0.0.1", "-p", os.environ["QUOR_TEST_PG_PORT"], "-U",
                        "quor", "-d", database, "-v", "ON_ERROR_STOP=1", "-q"],
                       input=ORGANISATION, text=True, check=True, timeout=600)
    else:
        subprocess.run(["sqlite3", database], input=ORGANISATION, text=True, check=True,
                       timeout=600)
    for k in range(ADMINS):
        subprocess.run([os.environ.get("QUOR_TOOL", "quorpolicy"), "admin", "passwd",
                        "admin%d" % k], input="pw%d\n" % k, text=True, check=True,
                       capture_output=True, env=console.env, timeout=60)


def worker(port, k, times, failures):
    client = Client(port)
    if client.sign_in("admin%d" % k, "pw%d" % k)[0] != 200:
        failures.append("admin%d could not sign in" % k)
        return

    def timed(endpoint, want, method, path, body=None):
        start = time.perf_counter()
        status, answer, _ = client.request(method, path, body)
        times[endpoint].append((time.perf_counter() - start) * 1000)
        if status != want:
            failures.append("%s %s: %d %s" % (method, path, status, answer))
        return answer

    for r in range(ROUNDS):
        timed("GET list", 200, "GET", "/api/address-groups")
        made = timed("POST create", 201, "POST", "/api/address-groups",
                     {"name": "bench %d %d" % (k, r), "members": ["a%d@d%d.example" % (r, k)]})
        if not made:
            return
        path = "/api/address-groups/%d" % made["id"]
        timed("GET list", 200, "GET", "/api/address-groups")
        timed("PUT modify", 200, "PUT", path,
              {"name": "bench %d %d b" % (k, r), "members": ["b%d@d%d.example" % (r, k)]})
        timed("GET list", 200, "GET", "/api/address-groups")
        timed("DELETE", 204, "DELETE", path)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    failed = False
    print("| backend | endpoint | requests | requests/s | p50 ms | p99 ms |")
    print("| --- | --- | --- | --- | --- | --- |")
    for backend in BACKENDS:
        threads = os.environ.get("QUOR_CONSOLE_THREADS")
        console = Console(backend, *(["--threads=" + threads] if threads else []))
        try:
            load(console, backend)
            times = {e: [] for e in ("GET list", "POST create", "PUT modify", "DELETE")}
            failures = []
            threads = [threading.Thread(target=worker, args=(console.port, k, times, failures))
                       for k in range(ADMINS)]
            start = time.perf_counter()
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            wall = time.perf_counter() - start
            for endpoint, values in times.items():
                if values:
                    print("| %s | %s | %d | %.1f | %.1f | %.1f |" % (
                        backend, endpoint, len(values), len(values) / wall,
                        percentile(values, 50), percentile(values, 99)))
            for f in failures[:10]:
                print("FAILED: " + f, file=sys.stderr)
            failed = failed or bool(failures)
        finally:
            console.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
