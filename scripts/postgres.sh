# Starts a private PostgreSQL cluster in a scratch folder, reachable only on a Unix socket in that
# folder, and stops it when the calling script exits. Source it, then call
#   start_postgres [-c name=value ...]
# TRELLIK_POSTGRES is exported: the cluster's postgresql:// address (user trellik, no password).
# PostgreSQL refuses to run as root; as root the cluster runs as the system's postgres user (or a
# trellik-postgres user made for it).

postgres_bin_dir() {
  local dir
  dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [[ -n "$dir" ]] || dir=$(dirname "$(command -v initdb 2>/dev/null || echo /nonexistent/initdb)")
  echo "$dir"
}

# Runs a command as the cluster's owner.
as_postgres_owner() {
  if [[ $(id -u) -eq 0 ]]; then
    runuser -u "$POSTGRES_OWNER" -- "$@"
  else
    "$@"
  fi
}

start_postgres() {
  local bin
  bin=$(postgres_bin_dir)
  if [[ ! -x "$bin/initdb" ]]; then
    echo "PostgreSQL is not installed (initdb not found); run scripts/install-deps.sh." >&2
    return 1
  fi
  POSTGRES_DIR=$(mktemp -d /tmp/trellik-postgres.XXXXXX)
  POSTGRES_OWNER=$(id -un)
  if [[ $(id -u) -eq 0 ]]; then
    POSTGRES_OWNER=postgres
    if ! id -u postgres >/dev/null 2>&1; then
      POSTGRES_OWNER=trellik-postgres
      id -u "$POSTGRES_OWNER" >/dev/null 2>&1 ||
        useradd --system --no-create-home --shell /usr/sbin/nologin "$POSTGRES_OWNER"
    fi
    chown "$POSTGRES_OWNER" "$POSTGRES_DIR"
  fi
  local previous
  previous=$(trap -p EXIT | sed -E "s/^trap -- '(.*)' EXIT$/\1/")
  trap "stop_postgres${previous:+; $previous}" EXIT
  if ! as_postgres_owner "$bin/initdb" -D "$POSTGRES_DIR/data" -U trellik -A trust -E UTF8 --locale=C.UTF-8 \
    --no-sync >"$POSTGRES_DIR/initdb.log" 2>&1; then
    echo "initdb failed:" >&2
    cat "$POSTGRES_DIR/initdb.log" >&2
    return 1
  fi
  # No TCP at all: only the socket in the scratch folder.
  if ! as_postgres_owner "$bin/pg_ctl" -D "$POSTGRES_DIR/data" -l "$POSTGRES_DIR/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $POSTGRES_DIR -c max_connections=300 $*" start >/dev/null; then
    echo "The private PostgreSQL cluster did not start:" >&2
    cat "$POSTGRES_DIR/server.log" >&2 2>/dev/null || true
    return 1
  fi
  POSTGRES_BIN=$bin
  export TRELLIK_POSTGRES="postgresql:///postgres?host=$POSTGRES_DIR&user=trellik"
}

stop_postgres() {
  if [[ -n "${POSTGRES_DIR:-}" && -d "$POSTGRES_DIR" ]]; then
    if [[ -f "$POSTGRES_DIR/data/postmaster.pid" ]]; then
      as_postgres_owner "$POSTGRES_BIN/pg_ctl" -D "$POSTGRES_DIR/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$POSTGRES_DIR"
    POSTGRES_DIR=
  fi
}
