#!/usr/bin/env bash
# Runs the quorpolicy settings commands against a scratch installation root
# and checks each command's exit status and the lines it must print.
# Usage: cli_settings_test.sh <quorpolicy> <source dir>
set -u
tool=$1
src=$2
root=$(mktemp -d /tmp/quor-cli-settings.XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/config"
failures=0

# expect <name> <wanted status> <wanted lines, one per line> -- command...
expect() {
  local name=$1 want=$2 lines=$3 line out status
  shift 4
  out=$("$@" 2>&1)
  status=$?
  if [ "$status" != "$want" ]; then
    echo "FAIL $name: status $status, want $want"; echo "$out"; failures=$((failures + 1)); return
  fi
  while IFS= read -r line; do
    if ! grep -qxF -- "$line" <<<"$out"; then
      echo "FAIL $name: missing line '$line'"; echo "$out"; failures=$((failures + 1)); return
    fi
  done <<<"$lines"
  echo "ok   $name"
}

ini=$root/config/quor.ini
expect "no root" 2 "quorpolicy: QUOR_HOME is not set: it must name the installation root" -- \
  env -u QUOR_HOME "$tool" settings show
export QUOR_HOME=$root
expect "unreadable file" 1 "quorpolicy: the policy server settings could not be read (code 1609)" -- \
  "$tool" settings show
expect "backlog out of range" 2 "quorpolicy: --backlog must be between 0 and 1000" -- \
  "$tool" settings set --backlog 1001
expect "max below threads" 2 "quorpolicy: --threads 3 is above --max-threads 2" -- \
  "$tool" settings set --threads 3 --max-threads 2
expect "bad protocol" 2 "quorpolicy: --protocol takes http or https, not 'ftp'" -- \
  "$tool" settings set --protocol ftp
[ -e "$ini" ] && { echo "FAIL refused input wrote $ini"; failures=$((failures + 1)); }
expect "set" 0 "policy server settings written" -- \
  "$tool" settings set --backlog 200 --protocol https --cache-ttl 90 --recv-timeout 20
expect "cache lifetime and protocol read back" 0 $'ldap_cache_TTL_minutes = 90\nprotocol = https' -- \
  "$tool" settings show
expect "time-out reads back" 0 "recv_timeout_secs = 20" -- "$tool" settings show --memory
sed -i 's/^backlog=200$/backlog=12345/' "$ini"
expect "too long backlog" 0 "  [ERROR]Size of '12345' is too long, use default value 1000." -- \
  "$tool" settings show
expect "client section missing" 1 "quorpolicy: the policy client settings could not be read (code 1608)" -- \
  "$tool" settings client
expect "set client" 0 "policy client settings written" -- \
  "$tool" settings set-client --host policy.example --recv-timeout 5 --send-timeout 6
expect "client reads back" 0 "host = policy.example" -- "$tool" settings client
rm -f "$ini.lock"
mkdir "$ini.lock"
cp "$ini" "$root/before"
expect "unwritable file" 1 "quorpolicy: the policy server settings were not written (code 1610)" -- \
  "$tool" settings set --backlog 10
cmp -s "$ini" "$root/before" || { echo "FAIL unwritable file changed"; failures=$((failures + 1)); }
rmdir "$ini.lock"

if command -v sqlite3 >/dev/null; then
  mkdir -p "$root/sql"
  cp "$src"/sql/common/*.sql "$root/sql/"
  cp "$src"/sql/sqlite/*.sql "$root/sql/"
  printf '[QuorPolicy]\nDriver = SQLite3\nDatabase = %s/policy.db\n' "$root" >"$root/config/odbc.ini"
  printf '[Database_Settings]\nDataSourceName = QuorPolicy\nUserId = quor\nDatabase = %s/policy.db\n' \
    "$root" >"$root/config/database.ini"
  sqlite3 "$root/policy.db" <"$src/sql/sqlite/schema.sql"
  sqlite3 "$root/policy.db" "INSERT INTO global_settings VALUES ('email-scan','manualRuleOrder','on');
    INSERT INTO filter_groups VALUES (4,'Spam',1),(1,'virus',2);
    INSERT INTO administrators (admin_id, admin_name) VALUES (3,'alice');
    INSERT INTO components VALUES (7,'P','','10.1.1.1',8888)"
  expect "rule order" 0 "   8 SpamGorvoFilter" -- "$tool" rule-order
  expect "rule order verify" 3 "  miscUtils::_verifyFilterNames: expected name virus for  QuorFilter::Virus" -- \
    "$tool" rule-order --verify
  expect "admin id" 0 "3" -- "$tool" admin-id alice
  expect "unknown admin" 4 "quorpolicy: no administrator named 'bob'" -- "$tool" admin-id bob
  expect "policy servers" 0 "7          10.1.1.1                                 8888" -- \
    "$tool" policy-servers
else
  echo "skip database commands: sqlite3 not installed"
fi

[ "$failures" = 0 ]
