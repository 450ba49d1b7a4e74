#!/usr/bin/env bash
# scripts/services where the servers' own users may not reach the checkout: a services folder under a
# private folder (mode 0700, as root's home is) and under paths with blanks. Each case starts both
# servers on free ports of its own, stops them, starts them again on the data left behind and stops
# them; the suite's own servers (other ports, other folder) are never touched.
#
# Exit 77 (skipped) when the servers' packages are missing, unless CI=true or KORADO_REQUIRE_SERVERS=1.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
SERVICES="$ROOT/scripts/services"
PATH="$PATH:/usr/sbin:/sbin"

missing=()
pg_bin=${KORADO_PG_BINDIR:-/usr/lib/postgresql/15/bin}
[[ -x $pg_bin/initdb && -x $pg_bin/pg_ctl ]] || missing+=("PostgreSQL 15 in $pg_bin")
for tool in psql mariadbd mariadb-install-db mariadb mariadb-admin; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  if [[ ${CI:-} == true || ${KORADO_REQUIRE_SERVERS:-} == 1 ]]; then
    echo "FAIL: missing ${missing[*]} (scripts/deps test installs them)"
    exit 1
  fi
  echo "skipped: missing ${missing[*]} (scripts/deps test installs them)"
  exit 77
fi

port_taken() { timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null; }
free_port() { # not taken and not one of the arguments
  local port
  while :; do
    port=$((20000 + RANDOM % 30000))
    [[ " $* " == *" $port "* ]] && continue
    port_taken "$port" || break
  done
  echo "$port"
}

# What the cases need only for themselves; the suite's settings must not leak into them.
unset ODBCSYSINI ODBCINI KORADO_SERVICES_SCRIPT
export KORADO_SERVICES_TIMEOUT=${KORADO_SERVICES_TIMEOUT:-120}
KORADO_PG_PORT=$(free_port 55433 33306)
KORADO_MARIA_PORT=$(free_port 55433 33306 "$KORADO_PG_PORT")
export KORADO_PG_PORT KORADO_MARIA_PORT

base=$(mktemp -d /tmp/korado-services-test.XXXXXX)
chmod 0755 "$base"
started=() # services folders that may have servers running
leftovers=("$base") # folders outside $base that a start made (the PostgreSQL folder moved to /var/tmp)
cleanup() {
  local rc=$? dir
  for dir in "${started[@]}"; do
    KORADO_SERVICES_DIR=$dir "$SERVICES" stop >/dev/null 2>&1 || rc=1
  done
  rm -rf "${leftovers[@]}"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

failures=0
fail() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
}

# The data folders status names, one line per server.
data_folders() { "$SERVICES" status 2>/dev/null | sed -n 's/.*, data \(.*\)$/\1/p' || true; }

# name | folder that gets mode 0700 (empty: none) | services folder
cases=(
  "private home with blanks|$base/root home|$base/root home/korado checkout/.services"
  "blanks, reachable||$base/shared dir/korado checkout/.services"
)

for row in "${cases[@]}"; do
  IFS='|' read -r case_name private dir <<<"$row"
  echo "== $case_name: $dir"
  mkdir -p "$dir"
  [[ -z $private ]] || chmod 0700 "$private"
  export KORADO_SERVICES_DIR=$dir
  started+=("$dir")
  while IFS= read -r data; do
    [[ $data == "$base"/* ]] || leftovers+=("$(dirname "$data")")
  done < <(data_folders)

  for round in "first start" "second start"; do
    if ! "$SERVICES" start >"$base/start.log" 2>&1; then
      cat "$base/start.log"
      fail "$round failed"
      "$SERVICES" stop >/dev/null 2>&1 || true
      break
    fi
    if ! status=$("$SERVICES" status); then
      fail "after the $round not both run: $status"
    fi
    # The DSN files point at this case's servers.
    grep -q "^Port = $KORADO_PG_PORT\$" "$dir/odbc/odbc.ini" || fail "odbc.ini does not name port $KORADO_PG_PORT"
    grep -q "^PORT = $KORADO_MARIA_PORT\$" "$dir/odbc/odbc.ini" || fail "odbc.ini does not name port $KORADO_MARIA_PORT"
    if ! "$SERVICES" stop >"$base/stop.log" 2>&1; then
      cat "$base/stop.log"
      fail "stop after the $round failed"
    fi
    if status=$("$SERVICES" status pg) || status=$("$SERVICES" status maria); then
      fail "still running after the stop after the $round: $status"
    fi
    for port in "$KORADO_PG_PORT" "$KORADO_MARIA_PORT"; do
      if port_taken "$port"; then fail "port $port still answers after the stop after the $round"; fi
    done
  done
done

if ((failures)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "ok"
