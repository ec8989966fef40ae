# Sourced by .ci/run: starts the services the test suite needs and exports
# what the tests read to find them. start_services runs before the tests,
# stop_services when the run ends, whether it passed or failed.
#
# PostgreSQL: a scratch cluster in a temporary folder owned by the postgres
# user, listening on 127.0.0.1 only, with a database "quorpolicy" and a
# trusted super-user "quor". The tests read:
#   QUOR_TEST_PG_PORT      the port
#   QUOR_TEST_PG_DATA      the cluster's data folder
#   QUOR_TEST_PG_RESTART_PORT  a second server, only for the recovery tests,
#                          so that restarting it never disturbs other tests
#   QUOR_TEST_PG_RESTART   a command that restarts that second server
#   QUOR_TEST_REQUIRE_PG=1 a missing server fails the tests instead of
#                          skipping them
quor_pg_bin() {
  local bin
  bin=$(pg_config --bindir 2>/dev/null || true)
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  fi
  printf '%s' "$bin"
}

# quor_pg_cluster DIR PORT: initialises and starts one scratch cluster.
quor_pg_cluster() {
  local bin=$1 dir=$2 port=$3
  mkdir -p "$dir"
  chown postgres:postgres "$dir"
  chmod 700 "$dir"
  runuser -u postgres -- "$bin/initdb" -D "$dir/data" -A trust -U quor >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; return 1; }
  runuser -u postgres -- "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" -w start \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1" >/dev/null ||
    { cat "$dir/log" >&2; return 1; }
  psql -h 127.0.0.1 -p "$port" -U quor -d postgres -qc 'CREATE DATABASE quorpolicy' >/dev/null
}

# True when something listens on 127.0.0.1:PORT.
quor_port_busy() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Prints why no scratch server can be started here (and succeeds), or fails
# when one can: the clusters run as the postgres user, which needs root.
quor_pg_unavailable() {
  local bin
  bin=$(quor_pg_bin)
  if [ "$(id -u)" -ne 0 ]; then
    echo "not root, so no scratch cluster can run as the postgres user"
  elif ! id postgres >/dev/null 2>&1; then
    echo "there is no postgres user"
  elif [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "the PostgreSQL server programs are not installed"
  else
    return 1
  fi
}

start_services() {
  local bin dir port
  bin=$(quor_pg_bin)
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "services: PostgreSQL server programs not found" >&2
    return 1
  fi
  dir=$(mktemp -d /tmp/quor-pg.XXXXXX)
  chmod 755 "$dir"
  port=${QUOR_TEST_PG_PORT:-55432}
  # Another run on this machine may hold the port: take the next free pair.
  while quor_port_busy "$port" || quor_port_busy "$((port + 1))"; do
    port=$((port + 2))
  done
  quor_pg_cluster "$bin" "$dir/main" "$port" || return 1
  quor_pg_cluster "$bin" "$dir/restart" "$((port + 1))" || return 1
  export QUOR_TEST_PG_DIR="$dir"
  export QUOR_TEST_PG_PORT="$port"
  export QUOR_TEST_PG_DATA="$dir/main/data"
  export QUOR_TEST_PG_RESTART_PORT="$((port + 1))"
  export QUOR_TEST_PG_RESTART="runuser -u postgres -- $bin/pg_ctl -D $dir/restart/data -l $dir/restart/log -w -m fast restart -o '-p $((port + 1)) -k $dir/restart -c listen_addresses=127.0.0.1'"
  export QUOR_TEST_REQUIRE_PG=1
  echo "services: PostgreSQL on 127.0.0.1:$port, restartable one on $((port + 1)) ($dir)"
}

stop_services() {
  local bin cluster
  if [ -n "${QUOR_TEST_PG_DIR:-}" ] && [ -d "$QUOR_TEST_PG_DIR" ]; then
    bin=$(quor_pg_bin)
    for cluster in main restart; do
      [ -d "$QUOR_TEST_PG_DIR/$cluster/data" ] || continue
      runuser -u postgres -- "$bin/pg_ctl" -D "$QUOR_TEST_PG_DIR/$cluster/data" -m fast -w stop \
        >/dev/null 2>&1 || true
    done
    rm -rf "$QUOR_TEST_PG_DIR"
  fi
}
