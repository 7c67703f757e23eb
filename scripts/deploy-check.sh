#!/usr/bin/env bash
# Runs docs/deploy.md as written, on this machine, as root: the shell blocks
# marked "<!-- deploy-check: step -->" in the page's order, with the Debian
# packages built from this tree (in build-deb/, or KRANZEL_DEBS=DIR with
# ready .deb files), then deliveries through the page's helper as the
# service account, and checks what an administrator would look at: the
# table, the log, the run summary, the page's log searches and jq
# one-liners, owners and modes, the unit files (systemd-analyze verify and
# the exposure level the page states) and the driver registration.
#
# Scenarios beyond the first delivery, each followed by the page's recovery
# step (the blocks marked redeliver-set-aside and redeliver-work):
#   - a delivery whose rename fails: exit 90, set aside with a log line, and
#     the next round of the helper finds nothing to do (no loop);
#   - a database error on every attempt: exit 99, the work file kept and
#     delivered again once the database is fixed;
#   - a wrong password: exit 99 with the line the page shows;
#   - a record of the wrong length: exit 99 with the two-line message;
#   - a delivery written in place, which the helper lets finish first;
#   - FreeTDS against a closed port, an unknown host and a wrong login
#     (through kranzel-standin-server, whose password stays out of the
#     process list): the lines the page shows.
# The long waits of the failing runs are shortened with libfaketime, through
# the helper's KRANZEL_PROGRAM.
#
# It installs packages, creates the accounts kranzel and upstream, the group
# kranzel-in and /srv/valdura: meant for CI and throwaway machines. A second
# run removes what the first left (known by a marker file) and starts again;
# it refuses to touch an installation it did not make. The systemd block of
# the page (enable --now) runs only where systemd is PID 1; elsewhere the
# units are checked with systemd-analyze only, and the helper is always run
# directly. KRANZEL_DEPLOY_KEEP=1 leaves the installation in place.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_PACKAGING_PACKAGES[@]}"

fail() {
  echo "deploy-check: FAILED: $*" >&2
  [ -z "${BLOCKS:-}" ] || echo "deploy-check: the page's blocks and their output are in $BLOCKS" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "run it as root (it installs packages and creates accounts)"

PAGE="$KRANZEL_ROOT/docs/deploy.md"
ROOT=/srv/valdura
WORKDIR=$ROOT/import/kranzel
LOG=$ROOT/Valdura_php/log/kranzel.log
RUNS=$ROOT/Valdura_php/log/kranzel-runs.jsonl
DB=$ROOT/db/standin.sqlite
MARKER=/var/lib/kranzel-deploy-check/installed
PASSWORD="deploy-check-$(date +%s)"

# ---- the packages -----------------------------------------------------------
if [ -n "${KRANZEL_DEBS:-}" ]; then
  DEBS=$(cd "$KRANZEL_DEBS" && pwd)
else
  DEBS="$KRANZEL_ROOT/build-deb"
  echo "== building the packages into $DEBS"
  mkdir -p "$DEBS"
  build_debian_packages "$DEBS" >"$DEBS/build.log" 2>&1 || { tail -n 40 "$DEBS/build.log"; fail "the packages did not build"; }
fi
ls "$DEBS"/kranzel_*_amd64.deb "$DEBS"/kranzel-standin_*_amd64.deb >/dev/null ||
  fail "no kranzel and kranzel-standin packages in $DEBS"

# ---- what an earlier run left -----------------------------------------------
remove_installation() {
  if [ -d /run/systemd/system ]; then
    systemctl disable --now kranzel-import.path >/dev/null 2>&1 || true
  fi
  rm -f /etc/systemd/system/kranzel-import.service /etc/systemd/system/kranzel-import.path \
    /usr/local/sbin/kranzel-deliveries /etc/cron.d/kranzel
  if command -v odbcinst >/dev/null; then
    odbcinst -u -s -l -n KRANZELDB >/dev/null 2>&1 || true
  fi
  dpkg --purge kranzel kranzel-standin >/dev/null 2>&1 || true
  rm -rf "$ROOT" /usr/local/lib/kranzel-deploy-check
  for user in upstream kranzel; do
    if id "$user" >/dev/null 2>&1; then userdel "$user"; fi
  done
  for group in kranzel-in upstream kranzel; do
    if getent group "$group" >/dev/null; then groupdel "$group"; fi
  done
  rm -f "$MARKER"
}
if [ -e "$MARKER" ]; then
  echo "== removing what an earlier deploy-check left"
  remove_installation
else
  for thing in "$ROOT" /usr/local/sbin/kranzel-deliveries; do
    [ ! -e "$thing" ] || fail "$thing exists and was not made by deploy-check: not touching it"
  done
  for name in kranzel upstream kranzel-in; do
    if id "$name" >/dev/null 2>&1 || getent group "$name" >/dev/null; then
      fail "the account or group $name exists and was not made by deploy-check: not touching it"
    fi
  done
  ! dpkg-query -W -f='${Status}' kranzel 2>/dev/null | grep -q "ok installed" ||
    fail "kranzel is installed and not by deploy-check: not touching it"
fi
mkdir -p "$(dirname "$MARKER")"
touch "$MARKER"
if [ "${KRANZEL_DEPLOY_KEEP:-}" != 1 ]; then
  # shellcheck disable=SC2154 # status is set inside the trap
  trap 'status=$?; remove_installation; exit $status' EXIT
fi

# ---- the page's blocks ------------------------------------------------------
# The blocks and their output; kept when a check fails.
BLOCKS=$(mktemp -d /tmp/kranzel-deploy-check.XXXXXX)
# Each block marked "<!-- deploy-check: KIND -->" becomes NN-KIND.sh.
awk -v dir="$BLOCKS" '
  /^<!-- deploy-check: [a-z-]+ -->$/ { kind = $3; next }
  kind != "" && /^```sh$/ { n++; file = sprintf("%s/%02d-%s.sh", dir, n, kind); inside = 1; kind = ""; next }
  inside && /^```$/ { inside = 0; close(file); next }
  inside { print > file; next }
  { kind = "" }
' "$PAGE"
[ -n "$(ls "$BLOCKS"/*-step.sh 2>/dev/null)" ] || fail "no marked blocks in $PAGE"

# run_block FILE: as an administrator would paste it into a root shell in the
# folder that holds the packages (stopping at the first failing command), the
# password typed whenever a block asks; its output is kept in FILE.out.
run_block() {
  local file="$1"
  echo "-- $(basename "$file")"
  sed 's/^/   | /' "$file"
  if ! (cd "$DEBS" && printf '%s\n' "$PASSWORD" | bash -e "$file") >"$file.out" 2>&1; then
    sed 's/^/   > /' "$file.out"
    fail "the block $(basename "$file") of docs/deploy.md failed"
  fi
  sed 's/^/   > /' "$file.out"
}
block_of() { ls "$BLOCKS"/*-"$1".sh | head -n 1; }

echo "== the page's steps"
for file in "$BLOCKS"/*.sh; do
  case "$file" in
    *-step.sh) run_block "$file" ;;
    *-systemd.sh)
      if [ -d /run/systemd/system ]; then
        run_block "$file"
        # The checks below start the helper themselves.
        systemctl disable --now kranzel-import.path
      else
        echo "-- $(basename "$file"): skipped, systemd is not running here (the units were verified above)"
      fi
      ;;
  esac
done

# ---- the installation the steps made ----------------------------------------
echo "== checking the installation"
mode_of() { stat -c '%a %U %G' "$1"; }
[ "$(mode_of $ROOT/Files/Valdura.Ini)" = "600 kranzel kranzel" ] || fail "Valdura.Ini: $(mode_of $ROOT/Files/Valdura.Ini)"
[ "$(mode_of $ROOT/Valdura_php/log)" = "2750 kranzel adm" ] || fail "log directory: $(mode_of $ROOT/Valdura_php/log)"
[ "$(mode_of $WORKDIR/in)" = "2770 kranzel kranzel-in" ] || fail "in/: $(mode_of $WORKDIR/in)"
for f in "$LOG" "$RUNS"; do
  [ "$(stat -c %G "$f")" = adm ] || fail "$f does not belong to the group adm"
  [ $(($(stat -c '0%a' "$f") & 7)) -eq 0 ] || fail "$f is open to others: $(mode_of "$f")"
done
runuser -u nobody -- cat "$LOG" >/dev/null 2>&1 && fail "an unrelated account can read the log"
[ "$(grep -c '^\[KranzelStandin\]' /etc/odbcinst.ini)" = 1 ] || fail "KranzelStandin is not registered exactly once"

as_kranzel_sql() { runuser -u kranzel -- kranzel-standin exec "$DB" "$1"; }
rows=$(as_kranzel_sql "SELECT RTRIM(M20Trm) FROM QVSYSTEM.MGSST20P")
[ "$rows" = PROBE01 ] || fail "MGSST20P holds '$rows' after the trial delivery, not PROBE01"
tail -n 2 "$LOG" | grep -q " 1 von 1 Datensaetze in MGSST20P eingefuegt$" || fail "no count line in the log"
tail -n 1 "$LOG" | grep -q " Die Schnittstellendatei vom Dateityp '20P' wurde importiert!$" || fail "no success line"
[ "$(tail -n 1 "$RUNS" | jq -c '[.type, .exit_code, .inserted]')" = '["20P",0,1]' ] ||
  fail "the run summary's last line: $(tail -n 1 "$RUNS")"

stated=$(sed -n 's/.*`systemd-analyze security` rates it \*\*\([0-9.]* [A-Z]*\)\*\*.*/\1/p' "$PAGE")
[ -n "$stated" ] || stated=$(tr '\n' ' ' <"$PAGE" | sed -n 's/.*`systemd-analyze security`[ ]*rates it[ ]*\*\*\([0-9.]* [A-Z]*\)\*\*.*/\1/p')
grep -q "Overall exposure level for kranzel-import.service: $stated" "$BLOCKS"/*-step.sh.out ||
  fail "the page states the exposure level '$stated', systemd-analyze says otherwise"
echo "   owners, modes, registration, table, log, summary, exposure level $stated: as the page says"

# ---- deliveries through the helper ------------------------------------------
# deliver TYPE LINES: as the upstream account, by rename (each line ends in
# a line feed).
deliver() {
  (cd "$WORKDIR" && printf '%s\n' "$2" |
    runuser -u upstream -- sh -c "umask 027; cat > in/$1.tmp && mv in/$1.tmp in/$1.txt")
}
record20p() { printf '%-255s%-2s%-1s%-5s%-4s%-4s\n' "$1" A 1 12345 0800 1700; }
# helper [faketime]: one round as the service account; its exit code in $rc.
helper() {
  local program=/usr/bin/kranzel
  [ "${1:-}" = faketime ] && program=$FAST
  rc=0
  runuser -u kranzel -- env KRANZEL_SETTLE_SECONDS="${SETTLE:-1}" KRANZEL_PROGRAM="$program" \
    sh -c 'umask 027; exec /usr/local/sbin/kranzel-deliveries' >"$BLOCKS/helper.err" 2>&1 || rc=$?
}
summary_last() { tail -n 1 "$RUNS" | jq -c "$1"; }
# page_line PATTERN: the page's text of a log line (between backticks).
page_line() { grep -o "\`$1[^\`]*\`" "$PAGE" | head -n 1 | tr -d '`'; }

mkdir -p /usr/local/lib/kranzel-deploy-check
FAST=/usr/local/lib/kranzel-deploy-check/kranzel-fast
# libfaketime preloaded directly: the faketime wrapper's named semaphore
# collides with one that a killed faketime of the same process id left.
LIBFAKETIME=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
[ -f "$LIBFAKETIME" ] || fail "$LIBFAKETIME is missing (package libfaketime)"
printf '#!/bin/sh\nLD_PRELOAD=%s FAKETIME="+0 x1000" exec /usr/bin/kranzel "$@"\n' "$LIBFAKETIME" >"$FAST"
chmod 0755 /usr/local/lib/kranzel-deploy-check "$FAST"

echo "== a delivery whose rename fails is set aside, once"
install -d -o kranzel -g kranzel "$WORKDIR/in/20P.wrk.blocked"
rm -f "$WORKDIR/in/20P.wrk"
mv "$WORKDIR/in/20P.wrk.blocked" "$WORKDIR/in/20P.wrk"
deliver 20P "$(record20p PROBE02)"
lines=$(wc -l <"$RUNS")
helper
[ "$rc" = 1 ] || fail "the helper ended with $rc after a failed rename"
[ ! -e "$WORKDIR/in/20P.txt" ] || fail "the delivery is still in in/"
aside=$(ls "$WORKDIR"/set-aside/20P.txt.*)
[ "$(wc -w <<<"$aside")" = 1 ] || fail "set-aside/ holds: $aside"
grep -q "PROBE02" "$aside" || fail "the set-aside file lost its content"
grep -q " Quelldatei in/20P.txt nicht nach in/20P.wrk umbenannt: Is a directory$" "$LOG" || fail "no rename line"
grep -q " Lieferung in/20P.txt nach Exit-Code 90 nicht uebernommen, beiseitegelegt als set-aside/20P.txt\.[0-9-]*$" "$LOG" ||
  fail "no set-aside line in the log"
[ "$(summary_last .exit_code)" = 90 ] || fail "the summary does not show exit 90"
start=$(date +%s)
helper
[ "$rc" = 0 ] || fail "the next round ended with $rc: $(cat "$BLOCKS/helper.err")"
[ "$(wc -l <"$RUNS")" = $((lines + 1)) ] || fail "the next round ran kranzel again"
[ $(($(date +%s) - start)) -lt 5 ] || fail "the next round took its time over nothing"
rmdir "$WORKDIR/in/20P.wrk"
run_block "$(block_of redeliver-set-aside)"
[ -f "$WORKDIR/in/20P.txt" ] && [ -z "$(ls "$WORKDIR/set-aside")" ] || fail "the set-aside file was not delivered again"
helper
[ "$rc" = 0 ] || fail "the redelivery ended with $rc"
[ "$(as_kranzel_sql "SELECT RTRIM(M20Trm) FROM QVSYSTEM.MGSST20P")" = PROBE02 ] || fail "MGSST20P is not PROBE02"

echo "== a database error on every attempt: exit 99, the work file delivered again"
control=$ROOT/db/control
printf 'fail_statement 1205 always MGSST20P\n' >"$control"
chown kranzel:kranzel "$control"
odbcinst -i -s -l -r <<INI
[KRANZELDB]
Driver   = KranzelStandin
Database = $DB
User     = kranzel
Password = $PASSWORD
Control  = $control
INI
deliver 20P "$(record20p PROBE03)"
helper faketime
[ "$rc" = 1 ] || fail "the helper ended with $rc after a failing import"
grep -q "PROBE03" "$WORKDIR/in/20P.wrk" || fail "the work file does not hold the delivery"
[ -z "$(ls "$WORKDIR/set-aside")" ] || fail "a delivery kranzel took was set aside"
tail -n 1 "$LOG" | grep -q " Die Schnittstellendatei vom Dateityp '20P' konnte nicht importiert werden!$" ||
  fail "the failed import's line is not the last: $(tail -n 3 "$LOG")"
[ "$(summary_last '[.exit_code, .attempts, .native_error]')" = '[99,5,1205]' ] ||
  fail "the summary of the failed import: $(tail -n 1 "$RUNS")"
: >"$control"
run_block "$(block_of redeliver-work)"
helper
[ "$rc" = 0 ] || fail "the work file delivered again ended with $rc"
[ "$(as_kranzel_sql "SELECT RTRIM(M20Trm) FROM QVSYSTEM.MGSST20P")" = PROBE03 ] || fail "MGSST20P is not PROBE03"

echo "== a wrong password: exit 99 with the page's line, the delivery set aside"
printf 'falsch\n' | runuser -u kranzel -- kranzel-ini set "$ROOT/Files/Valdura.Ini" PASS -
deliver 20P "$(record20p PROBE04)"
helper faketime
[ "$rc" = 1 ] || fail "the helper ended with $rc with a wrong password"
shown=$(page_line "ODBC: 28000 ")
[ -n "$shown" ] && grep -qF " $shown" "$LOG" || fail "the log does not show the page's line '$shown'"
[ "$(summary_last '[.exit_code, .native_error]')" = '[99,18456]' ] || fail "summary: $(tail -n 1 "$RUNS")"
[ -n "$(ls "$WORKDIR/set-aside")" ] || fail "the delivery was not set aside"
printf '%s\n' "$PASSWORD" | runuser -u kranzel -- kranzel-ini set "$ROOT/Files/Valdura.Ini" PASS -
run_block "$(block_of redeliver-set-aside)"
helper
[ "$rc" = 0 ] || fail "the set-aside delivery ended with $rc once the password was right"

echo "== a record of the wrong length: the message spans two lines"
deliver 20P "$(record20p PROBE05 | cut -c 1-261)"
helper faketime
[ "$rc" = 1 ] || fail "the helper ended with $rc after a wrong record length"
grep -A1 " Falsche Satzlaenge! 'PROBE05 " "$LOG" | tail -n 1 | grep -qx "' Laenge Soll/Ist (272/262)" ||
  fail "the wrong length's message is not the two lines the page shows: $(grep -A1 'Falsche Satzlaenge' "$LOG" | tail -n 2)"
grep -qF "' Laenge Soll/Ist (272/262)" "$PAGE" || fail "the page does not show the second line as the tool writes it"
[ "$(summary_last .exit_code)" = 99 ] || fail "the summary does not show exit 99"

echo "== a delivery written in place: the helper waits until it stops growing"
# Three records 0.3 s apart, into in/20P.txt itself; the helper, started
# once the first is there, must import all three (and so the last run of the
# type succeeds again, for the one-liners below).
(cd "$WORKDIR" && runuser -u upstream -- sh -c "umask 027
  for t in PROBE06 PROBE07 PROBE08; do
    printf '%-255s%-2s%-1s%-5s%-4s%-4s\n' \$t A 1 12345 0800 1700 >> in/20P.txt; sleep 0.3
  done") &
writer=$!
until [ -s "$WORKDIR/in/20P.txt" ]; do sleep 0.05; done
SETTLE=2 helper
wait "$writer"
[ "$rc" = 0 ] || fail "the delivery written in place ended with $rc"
tail -n 2 "$LOG" | grep -q " 3 von 3 Datensaetze in MGSST20P eingefuegt$" ||
  fail "kranzel did not get the whole delivery: $(tail -n 2 "$LOG")"

echo "== the page's log searches and one-liners"
run_block "$(block_of logs)"
out="$(block_of logs).out"
for want in "beiseitegelegt als set-aside/20P.txt" "konnte nicht importiert werden!" \
  "ODBC: 28000 " "Falsche Satzlaenge! 'PROBE05" "' Laenge Soll/Ist (272/262)"; do
  grep -qF "$want" "$out" || fail "the log searches do not show '$want'"
done
run_block "$(block_of summary)"
out="$(block_of summary).out"
grep -q '"type":"20P","source":"in/20P.txt","attempts":5,"native_error":1205,"exit_code":99}' "$out" ||
  fail "the failed-runs one-liner does not show the failed import"
grep -q '"exit_code":90}$' "$out" || fail "the failed-runs one-liner does not show the refused rename"
grep -qx '20P [0-9][0-9]*' "$out" || fail "the deleted-rows one-liner printed no count for 20P"
[ "$(tail -n 1 "$out")" = 0 ] || fail "the alert one-liner does not print 0 for the latest 20P run"

echo "== FreeTDS: the lines the page shows"
if [ -e /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so ]; then
  TDS=$(mktemp -d)
  chmod 0755 "$TDS"
  mkdir -p "$TDS/Files" "$TDS/Valdura_php/log" "$TDS/x/y/in" "$TDS/odbc"
  cp -p "$ROOT/Files/Valdura.Ini" "$TDS/Files/"
  printf '[FreeTDS]\nDriver = /usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so\n' >"$TDS/odbc/odbcinst.ini"
  : >"$TDS/odbc/freetds.conf"
  chown -R kranzel:kranzel "$TDS"
  # tds_run SERVER PORT: one run as the service account; its log in $TDS.
  tds_run() {
    printf '[KRANZELDB]\nDriver = FreeTDS\nServer = %s\nPort = %s\nTDS_Version = 7.4\nClientCharset = CP1252\n' \
      "$1" "$2" >"$TDS/odbc/odbc.ini"
    rm -f "$TDS/Valdura_php/log/kranzel.log"
    record20p PROBE07 >"$TDS/x/y/in/20P.txt"
    chown kranzel:kranzel "$TDS/x/y/in/20P.txt"
    (cd "$TDS/x/y" && runuser -u kranzel -- env ODBCSYSINI="$TDS/odbc" FREETDSCONF="$TDS/odbc/freetds.conf" \
      "$FAST" in/20P.txt 20P) || true
  }
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  tds_run 127.0.0.1 "$port"
  shown=$(page_line "ODBC: 08S01 ")
  grep -qF " $shown" "$TDS/Valdura_php/log/kranzel.log" ||
    fail "a closed port: the page shows '$shown', the log: $(sed -n 2p "$TDS/Valdura_php/log/kranzel.log")"
  tds_run db.kranzel.invalid 1433
  shown=$(page_line "ODBC: 08001 ")
  grep -qF " $shown" "$TDS/Valdura_php/log/kranzel.log" ||
    fail "an unknown host: the page shows '$shown', the log: $(sed -n 2p "$TDS/Valdura_php/log/kranzel.log")"
  # A wrong login, through the listener, whose password comes from standard input.
  wrong="listener-$$-$RANDOM"
  printf '%s\n' "$wrong" | runuser -u kranzel -- kranzel-standin-server --port 0 --database "$DB" \
    --user kranzel --password-file - >"$TDS/listener.out" 2>"$TDS/listener.err" &
  listener=$!
  for _ in $(seq 50); do grep -q listening "$TDS/listener.out" && break; sleep 0.1; done
  grep -q listening "$TDS/listener.out" || fail "kranzel-standin-server did not start: $(cat "$TDS/listener.err")"
  ! ps -eo args | grep -v grep | grep -q -- "$wrong" || fail "the listener's password shows in the process list"
  server=$(pgrep -u kranzel -f 'kranzel-standin-server --port 0' | head -n 1)
  grep -q -- "--password-file -" <<<"$(ps -o args= -p "$server")" ||
    fail "the listener's command line is not the one started here"
  tds_run 127.0.0.1 "$(sed -n 's/.*127\.0\.0\.1://p' "$TDS/listener.out")"
  kill "$server"
  wait "$listener" || true
  shown=$(page_line "ODBC: 42000 ")
  grep -qF " $shown" "$TDS/Valdura_php/log/kranzel.log" ||
    fail "a wrong login through FreeTDS: the page shows '$shown', the log: $(sed -n 2p "$TDS/Valdura_php/log/kranzel.log")"
  rm -rf "$TDS"
else
  echo "   skipped: tdsodbc is not installed"
fi

rm -rf "$BLOCKS"
echo "deploy-check: docs/deploy.md ran as written; deliveries, set-asides, recoveries, log, summary and one-liners as it says."
