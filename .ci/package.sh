#!/usr/bin/env bash
# Builds the Debian packages and checks them with lintian (no errors
# allowed), installs them on this machine with apt-get, starts the policy
# service exactly as its installed systemd unit would (command line,
# environment, user) and asks it about two senders, makes an installation
# root and answers a match from the installed files only, builds the
# consumer project against the installed CMake package, and purges the
# packages again.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
# Warnings fail the development builds (default, asan, tsan); the optimised
# package build only reports them: GCC 12 gives false alarms at -O3.
cmake --preset package -DQUOR_WERROR=OFF
cmake --build --preset package
rm -f build-package/*.deb build-package/*.ddeb
(cd build-package && cpack -G DEB)

debs=(build-package/*.deb)
wanted="libquorcommon1 libquordataaccess1 libquorpolicy-dev libquorpolicy1 quorpolicy"
names=$(for d in "${debs[@]}"; do dpkg-deb -f "$d" Package; done | sort | xargs)
if [ "$names" != "$wanted" ]; then
  echo "packages built: $names; expected: $wanted" >&2
  exit 1
fi
for d in "${debs[@]}" build-package/*.ddeb; do
  echo "== $d"
  dpkg-deb -f "$d" Depends
done

# lintian reads .ddeb files only under their .deb name.
lint=$(mktemp -d)
work=$(mktemp -d)
cleanup() {
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $wanted >/dev/null 2>&1 || true
  rm -rf "$work" "$lint"
}
trap cleanup EXIT
cp build-package/*.deb "$lint/"
for d in build-package/*.ddeb; do cp "$d" "$lint/$(basename "${d%.ddeb}").deb"; done
if ! lintian --fail-on error --tag-display-limit 0 "$lint"/*.deb; then
  echo "lintian reports errors" >&2
  exit 1
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]/#/./}"

unit=/lib/systemd/system/quorpolicy.service
[ -f "$unit" ] || unit=/usr/lib/systemd/system/quorpolicy.service
if [ -d /run/systemd/system ]; then
  # Where systemd runs, the package has started the service: it must be up.
  systemctl is-active --quiet quorpolicy
  systemctl stop quorpolicy
fi

# The service as its unit starts it: ExecStart= with the unit's Environment=
# and EnvironmentFile= values ($VAR splits into words, ${VAR} stays one), as
# the unit's user, from /. One connection asks about a black-listed and a
# white-listed sender; then SIGTERM must stop it with status 0.
python3 - "$unit" "$work/serve.log" <<'EOF'
import grp, os, pwd, re, shlex, signal, socket, subprocess, sys, time

unit_path, log_path = sys.argv[1], sys.argv[2]
service, section = {}, None
for raw in open(unit_path):
    line = raw.strip()
    if not line or line.startswith(("#", ";")):
        continue
    if line.startswith("["):
        section = line
        continue
    if section == "[Service]" and "=" in line:
        key, value = line.split("=", 1)
        service.setdefault(key.strip(), []).append(value.strip())

env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"}
for value in service.get("Environment", []):
    for word in shlex.split(value):
        name, _, text = word.partition("=")
        env[name] = text
for value in service.get("EnvironmentFile", []):
    path = value.lstrip("-")
    if os.path.exists(path):
        for word in shlex.split(open(path).read(), comments=True):
            name, _, text = word.partition("=")
            env[name] = text
        print("environment file:", path)

exec_start = service["ExecStart"][-1].lstrip("-@:+!")
argv = []
for word in shlex.split(exec_start):
    whole = re.fullmatch(r"\$(\w+)", word)
    if whole:
        argv.extend(env.get(whole.group(1), "").split())
    else:
        argv.append(re.sub(r"\$\{(\w+)\}", lambda m: env.get(m.group(1), ""), word))
user = service.get("User", [None])[-1]
group = service.get("Group", [None])[-1]
groups = None
if user:
    # systemd's defaults: the user's own group and its supplementary groups.
    entry = pwd.getpwnam(user)
    group = group or grp.getgrgid(entry.pw_gid).gr_name
    groups = os.getgrouplist(user, grp.getgrnam(group).gr_gid)
print("command:", shlex.join(argv))
print("environment:", " ".join(f"{k}={v}" for k, v in sorted(env.items()) if k != "PATH"))
print("user:", user or "root", "group:", group or "(the user's)")

address = ("127.0.0.1", 10040)
for i, word in enumerate(argv[:-1]):
    if word == "--listen":
        host, _, port = argv[i + 1].rpartition(":")
        address = (host.strip("[]"), int(port))
    if word == "--socket":
        address = argv[i + 1]
family = socket.AF_UNIX if isinstance(address, str) else socket.AF_INET
if family == socket.AF_INET and ":" in address[0]:
    family = socket.AF_INET6

def show_log():
    sys.stderr.write(open(log_path).read())

log = open(log_path, "w")
server = subprocess.Popen(argv, env=env, cwd="/", user=user, group=group,
                          extra_groups=groups,
                          stdin=subprocess.DEVNULL, stdout=log, stderr=log)
try:
    client = None
    for _ in range(600):
        if server.poll() is not None:
            show_log()
            sys.exit(f"the service exited with status {server.returncode} before answering")
        try:
            client = socket.socket(family, socket.SOCK_STREAM)
            client.settimeout(30)
            client.connect(address)
            break
        except OSError:
            client.close()
            client = None
            time.sleep(0.1)
    if client is None:
        show_log()
        sys.exit(f"the service does not listen on {address}")
    cases = [("news@malware.example", "action=REJECT"), ("ann@corp.example", "action=OK")]
    for sender, wanted in cases:
        request = ("request=smtpd_access_policy\nprotocol_state=RCPT\nprotocol_name=ESMTP\n"
                   "client_address=192.0.2.1\nclient_name=unknown\nhelo_name=mx.example\n"
                   f"sender={sender}\nrecipient=postmaster@corp.example\nqueue_id=\n\n")
        client.sendall(request.encode())
        answer = b""
        while not answer.endswith(b"\n\n"):
            chunk = client.recv(4096)
            if not chunk:
                break
            answer += chunk
        text = answer.decode(errors="replace")
        print(f"sender={sender}: {text.strip()}")
        if not text.startswith(wanted):
            show_log()
            sys.exit(f"sender={sender}: expected {wanted}, got {text!r}")
    client.close()
    if "running on the built-in settings" not in open(log_path).read():
        show_log()
        sys.exit("the service did not say that it runs on its built-in settings")
finally:
    if server.poll() is None:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=60)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
            show_log()
            sys.exit("the service did not stop on SIGTERM")
if server.returncode != 0:
    show_log()
    sys.exit(f"the service stopped with status {server.returncode}")
print("service started from its unit, answered and stopped")
EOF

# From the installed files only: no build tree, no source tree on the way.
(
  cd "$work"
  /usr/bin/quorpolicy init "$work/root"
  QUOR_HOME="$work/root" /usr/bin/quorpolicy admin entities | head -3
  /usr/bin/quorpolicy match --list /etc/quorpolicy/white.list \
    --list /etc/quorpolicy/black.list news@spam.example offers@shop.example
  cmake -S "$src/tests/install" -B "$work/consumer" >/dev/null
  cmake --build "$work/consumer" >/dev/null
  "$work/consumer/consumer"
)

# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $wanted
left=""
for p in $wanted; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -qv 'not-installed'; then left+=" $p"; fi
done
for f in /usr/bin/quorpolicy /etc/quorpolicy /var/lib/quorpolicy \
    /etc/systemd/system/multi-user.target.wants/quorpolicy.service; do
  if [ -e "$f" ] || [ -L "$f" ]; then left+=" $f"; fi
done
if [ -n "$left" ]; then
  echo "left after purging the packages:$left" >&2
  exit 1
fi
echo "packages checked, installed, used and purged"
