#!/usr/bin/env bash
# Builds the default preset and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default -DQUOR_WERROR=${QUOR_WERROR:-OFF}
cmake --build --preset default
ctest --preset default
