#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg -i and runs one import with
# the installed files only: the stand-in driver registered from the package's
# odbcinst template, a database made from the installed schema, a
# configuration written by the installed kranzel-ini, and /usr/bin/kranzel
# started two levels below a fresh installation root. Checks the exit code,
# the log lines and the table's rows, then removes the package again
# (KRANZEL_PACKAGE_KEEP=1 leaves it installed). Needs root (or sudo) for dpkg.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages dpkg-dev file

fail() { echo "package-check: $*" >&2; exit 1; }
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

echo "== building the package"
BUILD="$KRANZEL_ROOT/build-package"
cmake -S "$KRANZEL_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKRANZEL_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
rm -f "$BUILD"/kranzel_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD"/kranzel_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "$deb: Depends: $depends"
for lib in libodbc2 libsqlite3-0; do
  [[ "$depends" == *"$lib"* ]] || fail "the package does not depend on $lib"
done

echo "== installing it"
$sudo dpkg -i "$deb"
cleanup() {
  rm -rf "$work"
  [ "${KRANZEL_PACKAGE_KEEP:-}" = 1 ] || $sudo dpkg -r kranzel >/dev/null
}
work=$(mktemp -d)
trap cleanup EXIT
for f in /usr/bin/kranzel /usr/bin/kranzel-ini /usr/bin/kranzel-standin \
         /usr/share/kranzel/qvsystem.sql /usr/share/kranzel/odbcinst-standin.ini \
         /usr/share/man/man1/kranzel.1 /usr/share/man/man1/kranzel-ini.1 \
         /usr/share/doc/kranzel/deploy.md; do
  [ -e "$f" ] || fail "$f is not installed"
done
/usr/bin/kranzel-ini --version

echo "== one import with the installed files"
root="$work/root"
mkdir -p "$root/Files" "$root/Valdura_php/log" "$root/x/y/in" "$work/odbc"
export ODBCSYSINI="$work/odbc"
touch "$ODBCSYSINI/odbcinst.ini" "$ODBCSYSINI/odbc.ini"
odbcinst -i -d -f /usr/share/kranzel/odbcinst-standin.ini
odbcinst -q -d | grep -qx '\[KranzelStandin\]' || fail "the driver template did not register"
/usr/bin/kranzel-standin create "$work/odbc/db.sqlite" /usr/share/kranzel/qvsystem.sql
cat > "$ODBCSYSINI/odbc.ini" <<INI
[KRANZELDB]
Driver = KranzelStandin
Database = $work/odbc/db.sqlite
User = kranzel
Password = paket-probe
INI
ini="$root/Files/Valdura.Ini"
/usr/bin/kranzel-ini set "$ini" LOGIN kranzel
printf 'paket-probe\n' | /usr/bin/kranzel-ini set "$ini" PASS -
/usr/bin/kranzel-ini set "$ini" DB_SYSTEM MSSQL
/usr/bin/kranzel-ini set "$ini" DATABASE KRANZELDB
/usr/bin/kranzel-ini check "$ini"
[ "$(stat -c %a "$ini")" = 600 ] || fail "Valdura.Ini was not created with mode 0600"

# One 20P record: terminal, two-character code, flag, and three numbers.
printf '%-255s%-2s%-1s%-5s%-4s%-4s\n' PAKET01 A 1 12345 0800 1700 > "$root/x/y/in/20P.txt"
rc=0
(cd "$root/x/y" && /usr/bin/kranzel in/20P.txt 20P) || rc=$?
log="$root/Valdura_php/log/kranzel.log"
cat "$log"
[ "$rc" = 0 ] || fail "kranzel exited with $rc"
grep -q " 1 von 1 Datensaetze in MGSST20P eingefuegt$" "$log" || fail "no count line in the log"
grep -q " Die Schnittstellendatei vom Dateityp '20P' wurde importiert!$" "$log" ||
  fail "no success line in the log"
rows=$(/usr/bin/kranzel-standin exec "$work/odbc/db.sqlite" "SELECT RTRIM(M20Trm) FROM QVSYSTEM.MGSST20P")
[ "$rows" = PAKET01 ] || fail "MGSST20P holds '$rows' instead of PAKET01"
[ -f "$root/x/y/in/20P.wrk" ] || fail "no work file"
echo "package-check: the installed package imported a file (exit 0, log, rows)."
