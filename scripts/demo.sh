#!/usr/bin/env bash
# Installs what is missing, builds, and runs the real job on the embedded
# default database (the SQL Server stand-in): a demo installation under
# demo/, its configuration written by kranzel-ini, a sample file of each type
# delivered twice (a first delivery and a changed one), with the log lines,
# exit codes and table rows shown after each run.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages
build "$KRANZEL_ROOT/build" -DKRANZEL_TESTS=OFF >/dev/null

BIN="$KRANZEL_ROOT/build"
DEMO="$KRANZEL_ROOT/demo"
rm -rf "$DEMO"
mkdir -p "$DEMO/Files" "$DEMO/Valdura_php/log" "$DEMO/x/y/in" "$DEMO/odbc"

# The database: a stand-in DSN named KRANZELDB that expects the configured login.
"$BIN/standin/kranzel-standin" create "$DEMO/odbc/demo.sqlite" "$KRANZEL_ROOT/schema/qvsystem.sql"
cat > "$DEMO/odbc/odbcinst.ini" <<INI
[KranzelStandin]
Description = SQL Server stand-in
Driver = $BIN/standin/libkranzel_standin.so
INI
cat > "$DEMO/odbc/odbc.ini" <<INI
[KRANZELDB]
Driver = KranzelStandin
Database = $DEMO/odbc/demo.sqlite
User = kranzel
Password = demo-passwort
Journal = $DEMO/odbc/journal.sql
INI
export ODBCSYSINI="$DEMO/odbc"

# --tds: the same demo through the production driver, FreeTDS, talking TDS to
# kranzel-standin-server on a free loopback port: a dress rehearsal for a
# real SQL Server. The DSN keeps its name; only its driver changes.
if [ "${1:-}" = "--tds" ]; then
  ensure_packages "${KRANZEL_TDS_PACKAGES[@]}"
  "$BIN/standin/tds/kranzel-standin-server" --port 0 --database "$DEMO/odbc/demo.sqlite" \
    --user kranzel --password demo-passwort --journal "$DEMO/odbc/journal.sql" \
    > "$DEMO/odbc/listener.out" 2> "$DEMO/odbc/listener.log" &
  LISTENER=$!
  trap 'kill "$LISTENER" 2>/dev/null; wait "$LISTENER" 2>/dev/null || true' EXIT
  until grep -q listening "$DEMO/odbc/listener.out"; do kill -0 "$LISTENER"; sleep 0.1; done
  printf '[FreeTDS]\nDriver = /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so\n' >> "$DEMO/odbc/odbcinst.ini"
  printf '[KRANZELDB]\nDriver = FreeTDS\nServer = 127.0.0.1\nPort = %s\nTDS_Version = 7.4\nClientCharset = CP1252\n' \
    "$(sed -n 's/.*127\.0\.0\.1://p' "$DEMO/odbc/listener.out")" > "$DEMO/odbc/odbc.ini"
  : > "$DEMO/odbc/freetds.conf"
  export FREETDSCONF="$DEMO/odbc/freetds.conf"
  echo "Through FreeTDS: $(cat "$DEMO/odbc/listener.out") (connection log: $DEMO/odbc/listener.log)"
fi

# The configuration file, values encrypted by kranzel-ini.
INI_FILE="$DEMO/Files/Valdura.Ini"
"$BIN/kranzel-ini" set "$INI_FILE" LOGIN kranzel
"$BIN/kranzel-ini" set "$INI_FILE" PASS demo-passwort
"$BIN/kranzel-ini" set "$INI_FILE" DB_SYSTEM MSSQL
"$BIN/kranzel-ini" set "$INI_FILE" DATABASE KRANZELDB
"$BIN/kranzel-ini" check "$INI_FILE"

# pad WIDTH TEXT: TEXT padded with blanks (or cut) to WIDTH characters.
pad() { printf "%-${1}.${1}s" "$2"; }

# One sample line per record, per file type (first and changed delivery).
source "$KRANZEL_ROOT/scripts/demo_samples.sh"

run() {  # run FILETYPE FILE [switches...]
  local type="$1" file="$2"; shift 2
  echo
  echo "=== kranzel $file $type $* ==="
  local rc=0
  (cd "$DEMO/x/y" && "$BIN/kranzel" "$file" "$type" "$@") || rc=$?
  echo "exit code: $rc"
  echo "--- log ---"
  cat "$DEMO/Valdura_php/log/kranzel.log"
  : > "$DEMO/Valdura_php/log/kranzel.log"
}

show() {  # show T-SQL
  echo "--- $1 ---"
  "$BIN/standin/kranzel-standin" exec "$DEMO/odbc/demo.sqlite" "$1" | sed 's/\t/ | /g'
}

for type in "${DEMO_TYPES[@]}"; do
  for delivery in 1 2; do
    "sample_${type}_${delivery}" > "$DEMO/x/y/in/${type}.txt"
    run "$type" "in/${type}.txt"
    show "$(query_${type})"
  done
done
echo
echo "Demo installation left in $DEMO (log, work files, database, statement journal)."
