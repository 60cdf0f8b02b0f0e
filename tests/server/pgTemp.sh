#!/usr/bin/env bash
# pgTemp.sh start|stop DIR: a throw-away PostgreSQL server for the tests and benchmarks,
# reachable only through a socket in DIR. "start" prints its connection URL. The server
# refuses to run as root, so under root (CI) it runs as the system user postgres.
set -euo pipefail
action=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "pgTemp: PostgreSQL is not installed" >&2; exit 1; }

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin postgres
  as_owner=(runuser -u postgres --)
fi

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
}

case $action in
start)
  stop
  rm -rf "$dir"
  mkdir -p "$dir"
  [ ${#as_owner[@]} -eq 0 ] || chown postgres "$dir"
  "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U ombrix --auth=trust -E UTF8 --locale=C.UTF-8 \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses= -k $dir -c max_connections=200 -c shared_buffers=32MB" start >/dev/null ||
    { cat "$dir/server.log" >&2; exit 1; }
  echo "postgresql:///postgres?host=$dir&user=ombrix"
  ;;
stop)
  stop
  rm -rf "$dir"
  ;;
*)
  echo "usage: pgTemp.sh start|stop DIR" >&2
  exit 2
  ;;
esac
