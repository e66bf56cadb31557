#!/usr/bin/env bash
# A throw-away PostgreSQL server for the production store's tests: its own cluster in a temporary
# folder, listening on a Unix socket there and nowhere else, trusting its local users. PostgreSQL
# refuses to run as root, so under root (as in CI) the server runs as the unprivileged system user
# zemprix-test, created when missing.
#
#   pg_server.sh start STATE        starts a server; STATE (a file) remembers its folder
#   pg_server.sh createdb STATE DB  creates database DB and prints its URL
#   pg_server.sh stop STATE         stops the server and removes its folder
set -eu
cmd=${1:?start, createdb or stop}
state=${2:?state file}
user=zemprix-test

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
tool() { if [ -n "$bindir" ] && [ -x "$bindir/$1" ]; then echo "$bindir/$1"; else command -v "$1"; fi; }

as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u "$user" -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
  [ -f "$state" ] && "$0" stop "$state" || true
  for t in initdb pg_ctl; do
    tool "$t" >/dev/null || { echo "pg_server.sh: $t not found: install postgresql (scripts/install-deps.sh)" >&2; exit 1; }
  done
  dir=$(mktemp -d /tmp/zemprix-pg.XXXXXX)
  if [ "$(id -u)" -eq 0 ]; then
    id -u "$user" >/dev/null 2>&1 ||
      useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
    chown "$user" "$dir"
  fi
  chmod 755 "$dir"
  echo "$dir" >"$state"
  as_server "$(tool initdb)" -D "$dir/data" -A trust -U zemprix -E UTF8 --no-sync >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  as_server mkdir "$dir/socket"
  as_server "$(tool pg_ctl)" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir/socket -c listen_addresses= -c max_connections=60" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  echo "postgresql://zemprix@/postgres?host=$dir/socket"
  ;;
createdb)
  dir=$(cat "$state")
  db=${3:?database name}
  "$(tool psql)" -q -h "$dir/socket" -U zemprix -d postgres -c "CREATE DATABASE \"$db\"" >/dev/null
  echo "postgresql://zemprix@/$db?host=$dir/socket"
  ;;
stop)
  [ -f "$state" ] || exit 0
  dir=$(cat "$state")
  if [ -d "$dir/data" ]; then as_server "$(tool pg_ctl)" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true; fi
  case "$dir" in /tmp/zemprix-pg.*) rm -rf "$dir" ;; esac
  rm -f "$state"
  ;;
*) echo "pg_server.sh: unknown command $cmd" >&2; exit 2 ;;
esac
