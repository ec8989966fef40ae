#!/usr/bin/env bash
# Builds the project and runs the quorpolicy command: its version, then a
# short matching session on the example lists in examples/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorpolicy
./build/tools/quorpolicy/quorpolicy --version

echo
echo "Matching examples/addresses.txt against, in precedence order:"
echo "  examples/company-white.list, examples/black.list, examples/overrideable-white.list"
./build/tools/quorpolicy/quorpolicy match \
  --list examples/company-white.list \
  --list examples/black.list \
  --list examples/overrideable-white.list \
  < examples/addresses.txt
