# Sourced by command-line tests. start_postgres: starts a PostgreSQL server
# with its data and its Unix socket in a new temporary folder (no TCP port)
# and sets PG_URL to a fresh database's URI; under root the server runs as
# "postgres" (or "nobody"). Returns 77 when PostgreSQL is not installed, 1
# when it does not start. pg_stop and pg_restart stop it and start it
# again; stop_postgres stops it and removes its folder.

PG_BIN=
PG_FOLDER=
PG_AS=()

start_postgres() {
  PG_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
  [[ -n "$PG_BIN" && -x "$PG_BIN/initdb" ]] || return 77
  PG_FOLDER=$(mktemp -d /tmp/qlt-pg-XXXXXX)
  if [[ $(id -u) -eq 0 ]]; then
    local user
    for user in postgres nobody; do id "$user" >/dev/null 2>&1 && break; done
    command -v runuser >/dev/null || return 77
    PG_AS=(runuser -u "$user" --)
    chown "$user" "$PG_FOLDER"
  fi
  chmod 755 "$PG_FOLDER"
  "${PG_AS[@]}" "$PG_BIN/initdb" -D "$PG_FOLDER/data" -A trust -U quillet -E UTF8 --locale=C --no-sync \
    --wal-segsize=1 >/dev/null || return 1
  pg_restart || return 1
  "$PG_BIN/createdb" -h "$PG_FOLDER" -U quillet quillet || return 1
  PG_URL="postgresql:///quillet?host=$PG_FOLDER&user=quillet"
}

pg_restart() {
  "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_FOLDER/data" -l "$PG_FOLDER/server.log" -w \
    -o "-c listen_addresses='' -k '$PG_FOLDER' -c fsync=off" start >/dev/null
}

pg_stop() {
  "${PG_AS[@]}" "$PG_BIN/pg_ctl" -D "$PG_FOLDER/data" -m immediate -w stop >/dev/null 2>&1 || true
}

stop_postgres() {
  [[ -n "$PG_FOLDER" ]] || return 0
  [[ -d "$PG_FOLDER/data" ]] && pg_stop
  rm -rf "$PG_FOLDER"
  PG_FOLDER=
}
