#!/usr/bin/env bash
# Builds the default preset and runs the whole test suite, on SQLite and on
# scratch PostgreSQL clusters that it starts for the run and stops afterwards
# (unless the caller already started them, as .ci/run does).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
source .ci/services.sh
if [ -z "${QUOR_TEST_PG_DIR:-}" ]; then
  if pg_reason=$(quor_pg_unavailable); then
    echo "test: PostgreSQL cases skipped: $pg_reason"
    [ "${QUOR_TEST_REQUIRE_PG:-0}" != 1 ] || exit 1
  else
    trap stop_services EXIT
    start_services
  fi
fi
cmake --preset default -DQUOR_WERROR=${QUOR_WERROR:-OFF}
cmake --build --preset default
ctest --preset default
