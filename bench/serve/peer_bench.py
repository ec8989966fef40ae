#!/usr/bin/env python3
"""Side-by-side load of `quorpolicy serve` and postfwd on the same lists.

    python3 bench/serve/peer_bench.py --tool build/tools/quorpolicy/quorpolicy \
        --client build/bench/serve/policy_load [--sizes 10000,1000000] [--connections 1,8,64]

For each list size it writes a white list (a tenth of the entries) and a
black list (the rest) from a fixed seed: exact addresses (60%), *@domain
(25%), *@*.domain (10%) and user@* (5%); the same entries become postfwd's
sender tables (one regular expression per entry, in two rules: white gives
OK, black REJECT). Half the query senders are covered by an entry, half are
unknown. Each service is started, the client keeps N connections busy for
--seconds, and one table row is printed per service, size and connection
count. quorpolicy is also measured after a reload (SIGHUP), and the reload
time is taken from its log. postfwd is skipped at a size it cannot load
within --postfwd-load-timeout seconds.

Requires postfwd (Debian package postfwd) for the peer rows. Not a test: it
prints figures and asserts nothing about them.
"""
import argparse
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

SEED = 20261206


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    except OSError:
        return False


def make_workload(folder, size, queries):
    rng = random.Random(SEED + size)
    letters = "abcdefghijklmnopqrstuvwxyz"

    def word(n):
        return "".join(rng.choice(letters) for _ in range(n))

    domains = []
    for _ in range(max(100, size // 10)):
        base = word(rng.randint(5, 10)) + "." + rng.choice(["com", "net", "org", "example"])
        domains.append(base if rng.random() < 0.5 else word(4) + "." + base)
    entries = []  # (pattern, sample sender covered by it)
    seen = set()
    while len(entries) < size:
        r = rng.random()
        d, u = rng.choice(domains), word(rng.randint(3, 9))
        if r < 0.60:
            pattern, sample = u + "@" + d, u + "@" + d
        elif r < 0.85:
            pattern, sample = "*@" + d, word(6) + "@" + d
        elif r < 0.95:
            pattern, sample = "*@*." + d, word(6) + "@" + word(3) + "." + d
        else:
            pattern, sample = u + "@*", u + "@" + word(7) + ".test"
        if pattern in seen:
            continue
        seen.add(pattern)
        entries.append((pattern, sample))
    white, black = entries[: size // 10], entries[size // 10:]

    def regex(pattern):
        user, dom = pattern.split("@", 1)
        if dom == "*":
            return "^" + re.escape(user) + "@"
        if dom.startswith("*."):
            tail = r"\." + re.escape(dom[2:]) + "$"
        else:
            tail = "@" + re.escape(dom) + "$"
        return tail if user == "*" else "^" + re.escape(user) + tail

    paths = {}
    for name, part, membership in (("white", white, "nonoverrideable-white"),
                                   ("black", black, "nonoverrideable-black")):
        paths[name] = os.path.join(folder, "%s-%d.list" % (name, size))
        with open(paths[name], "w") as f:
            for pattern, _ in part:
                f.write("%s %s\n" % (membership, pattern))
        paths[name + "_re"] = os.path.join(folder, "%s-%d.re" % (name, size))
        with open(paths[name + "_re"], "w") as f:
            for pattern, _ in part:
                f.write(regex(pattern) + "\n")
    paths["rules"] = os.path.join(folder, "postfwd-%d.cf" % size)
    with open(paths["rules"], "w") as f:
        f.write("id=WL; sender=~file:%s; action=OK\n" % paths["white_re"])
        f.write("id=BL; sender=~file:%s; action=REJECT sender address is black-listed\n"
                % paths["black_re"])
    paths["senders"] = os.path.join(folder, "senders-%d.txt" % size)
    with open(paths["senders"], "w") as f:
        for _ in range(queries):
            if rng.random() < 0.5:
                f.write(rng.choice(entries)[1] + "\n")
            else:
                f.write(word(8) + "@" + word(9) + ".unknown.test\n")
    return paths


def run_client(args, port, connections, senders, seconds):
    try:
        out = subprocess.run([args.client, "--target", "127.0.0.1:%d" % port, "--connections",
                              str(connections), "--seconds", str(seconds), "--senders", senders],
                             capture_output=True, text=True, timeout=seconds + 120)
    except subprocess.TimeoutExpired:
        return {"errors": "client timed out"}
    fields = dict(kv.split("=", 1) for kv in out.stdout.split())
    if out.returncode != 0:
        fields["errors"] = fields.get("errors", "?") + " (" + out.stderr.strip()[:80] + ")"
    return fields


def row(service, size, phase, connections, f):
    print("| %s | %s | %s | %d | %s | %s | %s | %s |" % (
        service, format(size, ","), phase, connections, f.get("rps", "-"), f.get("p50_us", "-"),
        f.get("p99_us", "-"), f.get("errors", "-")), flush=True)


def bench_quorpolicy(args, size, paths, folder):
    port = free_port()
    log = open(os.path.join(folder, "serve-%d.log" % size), "w")
    proc = subprocess.Popen([args.tool, "serve", "--listen", "127.0.0.1:%d" % port,
                             "--list", paths["white"], "--list", paths["black"],
                             "--threads", str(args.threads)],
                            stdout=log, stderr=log, env={k: v for k, v in os.environ.items()
                                                         if k != "QUOR_HOME"})
    try:
        deadline = time.monotonic() + 600
        while not listening(port):
            if proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("quorpolicy serve did not start")
            time.sleep(0.1)
        for n in args.connections:
            row("quorpolicy serve", size, "first load", n,
                run_client(args, port, n, paths["senders"], args.seconds))
        proc.send_signal(signal.SIGHUP)
        logpath = log.name
        deadline = time.monotonic() + 600
        while "lists reloaded" not in open(logpath).read():
            if time.monotonic() > deadline:
                raise RuntimeError("no reload")
            time.sleep(0.1)
        for n in args.connections:
            row("quorpolicy serve", size, "after reload", n,
                run_client(args, port, n, paths["senders"], args.seconds))
        text = open(logpath).read()
        first = re.search(r"loaded in (\d+) ms", text)
        again = re.search(r"lists reloaded: \d+ entries in (\d+) ms", text)
        print("|  | %s | load %s ms, reload %s ms | | | | | |" % (
            format(size, ","), first.group(1) if first else "?", again.group(1) if again else "?"),
            flush=True)
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(60)
        except subprocess.TimeoutExpired:
            proc.kill()
        log.close()


def bench_postfwd(args, size, paths, folder):
    exe = shutil.which("postfwd2") or shutil.which("postfwd")
    if exe is None:
        print("| postfwd | %s | not installed | | | | | |" % format(size, ","), flush=True)
        return
    port = free_port()
    pidfile = os.path.join(folder, "postfwd-%d.pid" % size)
    # postfwd listens only as a daemon (-d): it forks away, and is stopped
    # through its pid file.
    start = subprocess.run([exe, "-d", "--file", paths["rules"], "--interface", "127.0.0.1",
                            "--port", str(port), "--user", "nobody", "--group", "nogroup",
                            "--cache=0", "--no_parent_request_cache", "--pidfile", pidfile,
                            "--max_servers", str(max(args.connections))],
                           capture_output=True, text=True, timeout=60)
    try:
        deadline = time.monotonic() + args.postfwd_load_timeout
        while not listening(port):
            if time.monotonic() > deadline:
                print("| postfwd | %s | could not load within %d s %s | | | | | |" % (
                    format(size, ","), args.postfwd_load_timeout, start.stderr.strip()[:60]),
                    flush=True)
                return
            time.sleep(0.2)
        for n in args.connections:
            row("postfwd", size, "", n,
                run_client(args, port, n, paths["senders"], args.seconds))
    finally:
        subprocess.run([exe, "--kill", "--file", paths["rules"], "--pidfile", pidfile],
                       capture_output=True, timeout=60)
        subprocess.run(["pkill", "-f", "postfwd2::"], capture_output=True)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--tool", required=True)
    p.add_argument("--client", required=True)
    p.add_argument("--sizes", default="10000,1000000")
    p.add_argument("--connections", default="1,8,64")
    p.add_argument("--seconds", type=float, default=5)
    p.add_argument("--threads", type=int, default=2)
    p.add_argument("--queries", type=int, default=200000)
    p.add_argument("--postfwd-load-timeout", type=int, default=300)
    p.add_argument("--skip-postfwd", action="store_true")
    args = p.parse_args()
    args.connections = [int(x) for x in args.connections.split(",")]
    folder = tempfile.mkdtemp(prefix="quor-peer-bench-")
    os.chmod(folder, 0o755)
    try:
        print("| service | entries | phase | connections | requests/s | p50 us | p99 us | errors |")
        print("| --- | --- | --- | --- | --- | --- | --- | --- |", flush=True)
        for size in [int(x) for x in args.sizes.split(",")]:
            paths = make_workload(folder, size, args.queries)
            for path in paths.values():
                os.chmod(path, 0o644)
            bench_quorpolicy(args, size, paths, folder)
            if not args.skip_postfwd:
                bench_postfwd(args, size, paths, folder)
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
