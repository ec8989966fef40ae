#!/usr/bin/env python3
"""How long a large list takes to become live, and what it costs in memory.

    python3 bench/load/load_bench.py --tool build/tools/quorpolicy/quorpolicy \
        [--entries 1000000] [--rounds 3] [--reloads 10] [--keep DIR]

Writes one list of --entries entries from a fixed seed: exact addresses
(60%), *@domain (30%) and user@* (10%), every pattern distinct, most of them
overrideable-black and the rest overrideable-white. The same keys, one per
line with OK or REJECT, become the source of a Postfix lookup table.

Then, in --rounds rounds, alternating so that both see the same machine:

  * `postmap lmdb:` of the table source (wall time, peak resident memory);
  * `quorpolicy match --list FILE ADDRESS`: read, parse, build, lock and one
    match (wall time, peak resident memory of the child).

Last, `quorpolicy serve --socket ... --list FILE` is started; its resident
memory (VmRSS) is read once the first load is logged and again after each of
--reloads reloads (SIGHUP, then wait for the "lists reloaded" line).

Prints one table: the median of the rounds for each program (wall time,
and CPU time of the child, which a busy machine disturbs less), the ratios
of the two load times, resident bytes per entry after the first load and the
ratio of the resident memory after the last reload to that after the first
load. Not a test: it prints figures and asserts nothing about them.

The postmap column needs Postfix with LMDB tables (Debian packages postfix
and postfix-lmdb); without them it is left out and only quorpolicy is
measured.
"""
import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SEED = 20261206
TLDS = ["com", "net", "org", "de", "fr", "co.uk", "io", "info", "example"]
LETTERS = "abcdefghijklmnopqrstuvwxyz0123456789"


def word(rng, low, high):
    return "".join(rng.choice(LETTERS) for _ in range(rng.randint(low, high)))


def make_list(folder, entries):
    """Writes the list and the postmap source; returns their paths and one
    address that the list decides."""
    rng = random.Random(SEED)
    domains = set()
    patterns = set()
    exact = entries * 6 // 10
    wild_user = entries * 3 // 10
    wild_domain = entries - exact - wild_user

    def domain():
        while True:
            d = "%s.%s" % (word(rng, 4, 12), rng.choice(TLDS))
            if rng.random() < 0.2:
                d = word(rng, 2, 6) + "." + d
            return d

    # Exact addresses share their domains a few at a time, as mail does.
    pool = [domain() for _ in range(max(1, exact // 4))]
    ordered = []

    def add(p):
        if p not in patterns:
            patterns.add(p)
            ordered.append(p)
            return True
        return False

    while len(ordered) < exact:
        add("%s@%s" % (word(rng, 3, 12), rng.choice(pool)))
    while len(ordered) < exact + wild_user:
        d = domain()
        if d not in domains:
            domains.add(d)
            add("*@" + d)
    while len(ordered) < entries:
        add("%s@*" % word(rng, 3, 14))
    rng.shuffle(ordered)

    list_path = os.path.join(folder, "big.list")
    map_path = os.path.join(folder, "big.map")
    with open(list_path, "w") as lst, open(map_path, "w") as src:
        lst.write("# %d entries, seed %d\n" % (entries, SEED))
        for p in ordered:
            white = rng.random() < 0.2
            lst.write("%s %s\n" % ("overrideable-white" if white else "overrideable-black", p))
            src.write("%s %s\n" % (p, "OK" if white else "REJECT"))
    probe = next(p for p in ordered if "*" not in p)
    return list_path, map_path, probe


def run_child(argv):
    """Wall seconds, CPU seconds (user and system) and peak resident MB of
    one child run."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.monotonic() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        raise RuntimeError("%s failed (%d): %s" % (argv[0], code, err.strip()[:200]))
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def postmap_available(folder):
    postmap = shutil.which("postmap") or ("/usr/sbin/postmap" if os.path.exists("/usr/sbin/postmap") else None)
    if postmap is None:
        return None
    conf = os.path.join(folder, "postfix")
    os.makedirs(conf, exist_ok=True)
    open(os.path.join(conf, "main.cf"), "a").close()
    probe = os.path.join(folder, "probe.map")
    with open(probe, "w") as f:
        f.write("a@b OK\n")
    try:
        run_child([postmap, "-c", conf, "lmdb:" + probe])
    except (RuntimeError, OSError):
        return None
    return [postmap, "-c", conf]


def vm_rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


def wait_for_log(path, text, count, proc, seconds):
    """Waits until `text` occurs `count` times in the log (bounded)."""
    deadline = time.monotonic() + seconds
    while True:
        with open(path, errors="replace") as f:
            if f.read().count(text) >= count:
                return
        if proc.poll() is not None:
            raise RuntimeError("quorpolicy serve exited (%s)" % proc.returncode)
        if time.monotonic() > deadline:
            raise RuntimeError("no '%s' (%d) within %d s" % (text, count, seconds))
        time.sleep(0.05)


def serve_memory(args, folder, list_path):
    """Resident KB after the first load and after each reload."""
    sock = os.path.join(folder, "policy.sock")
    log_path = os.path.join(folder, "serve.log")
    env = {k: v for k, v in os.environ.items() if k != "QUOR_HOME"}
    with open(log_path, "w") as log:
        proc = subprocess.Popen([args.tool, "serve", "--socket", sock, "--list", list_path,
                                 "--threads", "2"], stdout=log, stderr=log, env=env)
    try:
        wait_for_log(log_path, "loaded in", 1, proc, args.timeout)
        rss = [vm_rss_kb(proc.pid)]
        for n in range(1, args.reloads + 1):
            proc.send_signal(signal.SIGHUP)
            wait_for_log(log_path, "lists reloaded", n, proc, args.timeout)
            rss.append(vm_rss_kb(proc.pid))
        return rss
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=60)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def print_times(args, times, cpus, peaks):
    med = statistics.median
    print("| %s entries | wall s | CPU s | peak MB |" % format(args.entries, ","))
    print("|---|---|---|---|")
    if times["postmap"]:
        print("| postmap lmdb: | %.2f | %.2f | %.0f |" % (
            med(times["postmap"]), med(cpus["postmap"]), med(peaks["postmap"])))
    print("| quorpolicy match --list | %.2f | %.2f | %.0f |" % (
        med(times["match"]), med(cpus["match"]), med(peaks["match"])))
    if times["postmap"]:
        print("| load / postmap | %.2f | %.2f | |" % (med(times["match"]) / med(times["postmap"]),
                                                   med(cpus["match"]) / med(cpus["postmap"])))
    print("(medians of %d rounds)" % args.rounds)
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True, help="the quorpolicy binary")
    parser.add_argument("--entries", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--reloads", type=int, default=10)
    parser.add_argument("--timeout", type=int, default=600, help="seconds one load may take")
    parser.add_argument("--keep", help="write the files here and keep them")
    args = parser.parse_args()

    folder = args.keep or tempfile.mkdtemp(prefix="quor-load-")
    os.makedirs(folder, exist_ok=True)
    try:
        list_path, map_path, probe = make_list(folder, args.entries)
        postmap = postmap_available(folder)
        if postmap is None:
            print("postmap lmdb: not available; its column is left out", file=sys.stderr)
        times = {"postmap": [], "match": []}
        cpus = {"postmap": [], "match": []}
        peaks = {"postmap": [], "match": []}
        for _ in range(args.rounds):
            if postmap is not None:
                for suffix in (".lmdb", ".lmdb-lock"):
                    if os.path.exists(map_path + suffix):
                        os.unlink(map_path + suffix)
                wall, cpu, peak = run_child(postmap + ["lmdb:" + map_path])
                times["postmap"].append(wall)
                cpus["postmap"].append(cpu)
                peaks["postmap"].append(peak)
            wall, cpu, peak = run_child([args.tool, "match", "--list", list_path, probe])
            times["match"].append(wall)
            cpus["match"].append(cpu)
            peaks["match"].append(peak)
        rss = serve_memory(args, folder, list_path)

        if args.rounds > 0:
            print_times(args, times, cpus, peaks)
        print("| quorpolicy serve | resident MB | bytes per entry |")
        print("|---|---|---|")
        for n, kb in enumerate(rss):
            if n in (0, 1, 2, 3) or n == len(rss) - 1:
                what = "first load" if n == 0 else "after %d reload%s" % (n, "" if n == 1 else "s")
                print("| %s | %.0f | %.0f |" % (what, kb / 1024.0, kb * 1024.0 / args.entries))
        print("| after %d reloads / first load | %.2f | |" % (len(rss) - 1, rss[-1] / rss[0]))
        print("| largest after a reload / first load | %.2f | |" % (max(rss[1:] or rss) / rss[0]))
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
