#!/usr/bin/env bash
# Benchmark (not a test): the per-statement round trip of a real import, the
# tool itself as the client, once through the in-process stand-in driver and
# once through unixODBC + FreeTDS + kranzel-standin-server on loopback.
# Imports a 20P file of RECORDS new records (UPDATE misses, INSERT), then the
# same file again (UPDATE hits); the time of each run divided by the
# statements the journal received.
#
#   standin/tds/bench_roundtrip.sh BUILD_DIR [RECORDS]     default 2000 records
set -euo pipefail
BIN="$(cd "${1:?usage: bench_roundtrip.sh BUILD_DIR [RECORDS]}" && pwd)"
RECORDS="${2:-2000}"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
TDSODBC=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so
W="$(mktemp -d)"
trap '[ -n "${LISTENER:-}" ] && kill "$LISTENER" 2>/dev/null; rm -rf "$W"' EXIT

mkdir -p "$W/Files" "$W/Valdura_php/log" "$W/x/y" "$W/odbc"
for kv in "LOGIN kranzel" "PASS geheim" "DB_SYSTEM MSSQL" "DATABASE KRANZELDB"; do
  "$BIN/kranzel-ini" set "$W/Files/Valdura.Ini" $kv
done
for ((i = 0; i < RECORDS; i++)); do
  printf '%-255s%-2s%-1s%-5s%-4s%-4s\n' "TERM$i" A 1 12345 0800 1700
done > "$W/20P.src"
printf '[KranzelStandin]\nDriver = %s\n[FreeTDS]\nDriver = %s\n' \
  "$BIN/standin/libkranzel_standin.so" "$TDSODBC" > "$W/odbc/odbcinst.ini"
: > "$W/odbc/freetds.conf"
export ODBCSYSINI="$W/odbc" FREETDSCONF="$W/odbc/freetds.conf"

now() { date +%s%N; }
measure() {  # measure LABEL
  local label="$1" run t0 t1 n
  for run in first second; do
    : > "$W/odbc/journal.sql"
    cp "$W/20P.src" "$W/x/y/20P.txt"
    t0=$(now)
    (cd "$W/x/y" && "$BIN/kranzel" 20P.txt 20P) >/dev/null
    t1=$(now)
    n=$(wc -l < "$W/odbc/journal.sql")
    awk -v l="$label" -v r="$run" -v n="$n" -v d="$((t1 - t0))" \
      'BEGIN { printf "%-34s %-7s %6d statements  %7.1f us per statement\n", l, r, n, d / 1000 / n }'
  done
}

"$BIN/standin/kranzel-standin" create "$W/odbc/a.sqlite" "$ROOT/schema/qvsystem.sql"
printf '[KRANZELDB]\nDriver = KranzelStandin\nDatabase = %s\nJournal = %s\n' \
  "$W/odbc/a.sqlite" "$W/odbc/journal.sql" > "$W/odbc/odbc.ini"
measure "in-process stand-in driver"

"$BIN/standin/kranzel-standin" create "$W/odbc/b.sqlite" "$ROOT/schema/qvsystem.sql"
"$BIN/standin/tds/kranzel-standin-server" --port 0 --database "$W/odbc/b.sqlite" \
  --journal "$W/odbc/journal.sql" > "$W/port" 2> "$W/listener.log" &
LISTENER=$!
until grep -q listening "$W/port"; do kill -0 "$LISTENER"; sleep 0.1; done
printf '[KRANZELDB]\nDriver = FreeTDS\nServer = 127.0.0.1\nPort = %s\nTDS_Version = 7.4\nClientCharset = CP1252\n' \
  "$(sed -n 's/.*127\.0\.0\.1://p' "$W/port")" > "$W/odbc/odbc.ini"
measure "FreeTDS + kranzel-standin-server"
