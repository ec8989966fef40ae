#!/usr/bin/env bash
# Builds the project and runs the quorpolicy command on the embedded SQLite
# default: an installation root with sample data, a matching session on the
# example lists, and the console's daily questions against the database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorpolicy
q=./build/tools/quorpolicy/quorpolicy
root=${QUOR_MAIN_ROOT:-/tmp/quorpolicy-home}

$q --version

echo
echo "== Installation root with the embedded SQLite database: $root"
$q init --force "$root"
export QUOR_HOME="$root"

echo
echo "== Matching examples/addresses.txt against, in precedence order:"
echo "   examples/company-white.list, examples/black.list, examples/overrideable-white.list"
$q match \
  --list examples/company-white.list \
  --list examples/black.list \
  --list examples/overrideable-white.list \
  < examples/addresses.txt

echo
echo "== Entities"
$q admin entities
echo
echo "== Address groups administrator alice sees (id, editable, deletable, name)"
$q admin objects --admin alice --kind 5
echo
echo "== Quarantine areas of alice, the shared area last"
$q admin quarantine --admin alice
echo "== Policy server settings as the server reads them"
$q settings show
echo
echo "== Manual rule order, verified"
$q rule-order --verify
echo
echo "== Registered policy servers"
$q policy-servers
