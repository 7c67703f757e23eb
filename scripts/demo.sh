#!/usr/bin/env bash
# Installs what is missing, builds, and runs the real job on the embedded
# default database (the SQL Server stand-in): a demo installation under
# demo/, its configuration written by kranzel-ini, a sample file of each type
# delivered twice (a first delivery and a changed one), with the log lines,
# exit codes and table rows shown after each run; then two failed deliveries
# (a wrong record length, a missing source file) with what to look for.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages
echo "== Building kranzel, kranzel-ini and the stand-in (the first build takes a few minutes) =="
build "$KRANZEL_ROOT/build" -DKRANZEL_TESTS=OFF |
  { grep --line-buffered -E '^\[ *[0-9]+%\] (Building|Linking)|error|warning' || true; }
echo "== Built."

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
  printf 'demo-passwort\n' | "$BIN/standin/tds/kranzel-standin-server" --port 0 \
    --database "$DEMO/odbc/demo.sqlite" --user kranzel --password-file - \
    --journal "$DEMO/odbc/journal.sql" > "$DEMO/odbc/listener.out" 2> "$DEMO/odbc/listener.log" &
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

# run FILETYPE FILE [switches...]; with FAST=1 under faketime, so that the
# 10 s waits between attempts and the 60 s between reconnects pass 1000 times faster.
run() {
  local type="$1" file="$2"; shift 2
  local prefix=()
  [ "${FAST:-0}" = 1 ] && prefix=(faketime -f '+0 x1000')
  echo
  echo "=== ${prefix[*]:+${prefix[*]} }kranzel $file $type $* ==="
  local rc=0
  (cd "$DEMO/x/y" && "${prefix[@]}" "$BIN/kranzel" "$file" "$type" "$@") || rc=$?
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
caption() {
  echo
  echo "##############################################################################"
  printf '## %s\n' "$@"
  echo "##############################################################################"
}

caption "A 20P delivery with one record 10 characters short (262 instead of 272)." \
        "Look for: five lines 'Falsche Satzlaenge! ... (272/262)', one per attempt," \
        "then 'konnte nicht importiert werden!' and exit code 99. The 10 s waits" \
        "between the attempts are shortened with faketime (x1000), so the timestamps" \
        "run faster than the clock; the table keeps its rows, the work file stays."
{ sample_20P_2; line_20P KURZ 01 1 00001 0600 2200 | cut -c1-261; } > "$DEMO/x/y/in/20P.txt"
FAST=1 run 20P in/20P.txt
show "$(query_20P)"

caption "kranzel-check on the same kind of delivery, before any import: it names the" \
        "line, its length and where it ends, reads the file without renaming it and" \
        "exits 1 at once instead of five attempts over 40 seconds."
{ sample_20P_2; line_20P KURZ 01 1 00001 0600 2200 | cut -c1-261; } > "$DEMO/x/y/in/20P.txt"
(cd "$DEMO/x/y" && "$BIN/kranzel-check" in/20P.txt 20P) || echo "kranzel-check exit code: $?"
rm -f "$DEMO/x/y/in/20P.txt"

caption "A run whose source file was never delivered (in/41P.txt is missing)." \
        "Look for: 'Quelldatei auf Server nicht gefunden.' and, beside it, the line" \
        "naming the path that was looked for; exit code 90. The work file of the" \
        "last 41P delivery (in/41P.wrk) stays as it was."
rm -f "$DEMO/x/y/in/41P.txt"
run 41P in/41P.txt
ls -l "$DEMO/x/y/in/41P.wrk"

echo
echo "Demo installation left in $DEMO (log, work files, database, statement journal)."
