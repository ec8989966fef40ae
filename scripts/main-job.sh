#!/usr/bin/env bash
# Builds the project and runs the quorpolicy command.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target quorpolicy
./build/tools/quorpolicy/quorpolicy --version
