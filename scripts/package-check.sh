#!/usr/bin/env bash
# Builds the Debian packages kranzel and kranzel-standin (dpkg-buildpackage
# over debian/, into build-deb/), and checks them:
#   - lintian on both packages (and their -dbgsym): no error and no warning,
#     and no info-level or pedantic finding but those listed with their
#     reason in debian/rules;
#   - the contents: the programs of each package, stripped, built with the
#     hardening flags (fortified functions, full RELRO, PIE), their debug
#     information in the -dbgsym packages; compressed manual pages; copyright
#     and changelog; the examples;
#   - the maintainer scripts: install, reinstall, upgrade over a registration
#     made by hand, remove and purge leave one [KranzelStandin] in
#     /etc/odbcinst.ini with UsageCount 1, or none;
#   - one import with the installed files only: a database made from the
#     installed schema, a configuration written by the installed kranzel-ini,
#     /usr/bin/kranzel started two levels below a fresh installation root.
# Removes both packages at the end (KRANZEL_PACKAGE_KEEP=1 leaves them
# installed). Needs root (or sudo) for dpkg.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_PACKAGING_PACKAGES[@]}"

fail() { echo "package-check: FAILED: $*" >&2; exit 1; }
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

DEBS="$KRANZEL_ROOT/build-deb"
echo "== building the packages into $DEBS"
mkdir -p "$DEBS"
build_debian_packages "$DEBS" >"$DEBS/build.log" 2>&1 || { tail -n 40 "$DEBS/build.log"; fail "the build failed"; }
version=$(cd "$DEBS/src" && dpkg-parsechangelog -S Version)
kranzel="$DEBS/kranzel_${version}_amd64.deb"
standin="$DEBS/kranzel-standin_${version}_amd64.deb"
for deb in "$kranzel" "$standin" "$DEBS/kranzel-dbgsym_${version}_amd64.deb" \
           "$DEBS/kranzel-standin-dbgsym_${version}_amd64.deb"; do
  [ -f "$deb" ] || fail "$deb was not built"
done

echo "== lintian"
# Info-level (and pedantic) findings that remain, each listed with its reason
# in debian/rules; none do at present.
accepted_info=()
lint=$(lintian --info --pedantic --tag-display-limit 0 "$DEBS/kranzel_${version}_amd64.changes" 2>&1 |
  grep -v '^running with root privileges' || true)
echo "${lint:-(no findings)}"
if grep -q '^[EW]: ' <<<"$lint"; then fail "lintian reports errors or warnings"; fi
while read -r line; do
  [ -n "$line" ] || continue
  tag=$(awk '{print $3}' <<<"$line")
  printf '%s\n' "${accepted_info[@]}" | grep -qx "$tag" || fail "a new lintian finding: $line"
done < <(grep -E '^[IPX]: ' <<<"$lint" || true)

echo "== contents"
contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
has() { grep -qx "$2" <<<"$(contents "$1")" || fail "$(basename "$1") does not hold $2"; }
for f in /usr/bin/kranzel /usr/bin/kranzel-ini /usr/bin/kranzel-check \
         /usr/share/man/man1/kranzel.1.gz /usr/share/man/man1/kranzel-ini.1.gz \
         /usr/share/man/man1/kranzel-check.1.gz /usr/share/doc/kranzel/copyright \
         /usr/share/doc/kranzel/changelog.gz /usr/share/doc/kranzel/README.md \
         /usr/share/doc/kranzel/docs/deploy.md /usr/share/doc/kranzel/standin/README.md \
         /usr/share/doc/kranzel/examples/kranzel-deliveries \
         /usr/share/doc/kranzel/examples/kranzel-import.service \
         /usr/share/doc/kranzel/examples/kranzel-import.path /usr/share/doc/kranzel/examples/kranzel.cron; do
  has "$kranzel" "$f"
done
for f in /usr/bin/kranzel-standin /usr/bin/kranzel-standin-server \
         /usr/lib/x86_64-linux-gnu/odbc/libkranzel_standin.so /usr/share/kranzel/qvsystem.sql \
         /usr/share/kranzel/odbcinst-standin.ini /usr/share/man/man1/kranzel-standin.1.gz \
         /usr/share/man/man1/kranzel-standin-server.1.gz /usr/share/doc/kranzel-standin/copyright \
         /usr/share/doc/kranzel-standin/changelog.gz; do
  has "$standin" "$f"
done
! grep -q '^/usr/bin/kranzel-standin\|libkranzel_standin' <<<"$(contents "$kranzel")" || fail "the stand-in ships in kranzel"
grep -q 'rwxr-xr-x .*examples/kranzel-deliveries$' <<<"$(dpkg-deb -c "$kranzel")" || fail "the helper is not executable"
[[ "$(dpkg-deb -f "$kranzel" Depends)" == *libodbc2* ]] || fail "kranzel does not depend on libodbc2"
[[ "$(dpkg-deb -f "$standin" Depends)" == *odbcinst* ]] || fail "kranzel-standin does not depend on odbcinst"
[[ "$(dpkg-deb -f "$kranzel" Maintainer)" != *localhost* ]] || fail "the maintainer address is on localhost"

debug=$(dpkg-deb -c "$DEBS/kranzel-dbgsym_${version}_amd64.deb"; dpkg-deb -c "$DEBS/kranzel-standin-dbgsym_${version}_amd64.deb")
x=$(mktemp -d)
dpkg-deb -x "$kranzel" "$x"
dpkg-deb -x "$standin" "$x"
for elf in "$x"/usr/bin/* "$x"/usr/lib/x86_64-linux-gnu/odbc/libkranzel_standin.so; do
  name=$(basename "$elf")
  kind=$(file "$elf")
  dynamic=$(readelf -dW "$elf")
  [[ "$kind" == *", stripped"* ]] || fail "$name is not stripped"
  grep -q GNU_RELRO <<<"$(readelf -lW "$elf")" || fail "$name: no RELRO"
  grep -q 'BIND_NOW\|FLAGS_1.*NOW' <<<"$dynamic" || fail "$name: no BIND_NOW"
  grep -q '__[a-z_]*_chk@' <<<"$(nm -D "$elf")" || fail "$name: no fortified functions"
  ! grep -q 'RPATH\|RUNPATH' <<<"$dynamic" || fail "$name: has a library search path"
  [[ "$name" == *.so || "$kind" == *"pie executable"* ]] || fail "$name is not PIE"
  id=$(readelf -n "$elf" | sed -n 's/.*Build ID: //p')
  grep -q "/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug" <<<"$debug" || fail "$name: no debug information in -dbgsym"
done
rm -rf "$x"
echo "   programs stripped and hardened, debug information in -dbgsym, pages compressed"

echo "== maintainer scripts: one registration or none"
registrations() {
  local n
  n=$(grep -c '^\[KranzelStandin\]' /etc/odbcinst.ini 2>/dev/null || true)
  if [ "${n:-0}" = 0 ]; then echo none; return; fi
  echo "$n x UsageCount=$(odbcinst -q -d -n KranzelStandin | sed -n 's/^UsageCount=//p')"
}
expect_registrations() {
  local got
  got=$(registrations)
  [ "$got" = "$2" ] || fail "after $1: $got registrations, expected $2"
  echo "   after $1: $got"
}
$sudo dpkg --purge kranzel-standin kranzel >/dev/null 2>&1 || true
cleanup() {
  rm -rf "$work"
  [ "${KRANZEL_PACKAGE_KEEP:-}" = 1 ] || $sudo dpkg --purge kranzel kranzel-standin >/dev/null
}
work=$(mktemp -d)
trap cleanup EXIT
expect_registrations "purging any earlier install" none
$sudo dpkg -i "$kranzel" "$standin" >/dev/null
expect_registrations install "1 x UsageCount=1"
$sudo dpkg -i "$standin" >/dev/null
expect_registrations reinstall "1 x UsageCount=1"
$sudo odbcinst -i -d -f /usr/share/kranzel/odbcinst-standin.ini >/dev/null
expect_registrations "a registration by hand" "1 x UsageCount=2"
$sudo dpkg -i "$standin" >/dev/null
expect_registrations "a registration by hand, then an upgrade" "1 x UsageCount=1"
$sudo dpkg -r kranzel-standin >/dev/null
expect_registrations remove none
$sudo dpkg -i "$standin" >/dev/null
$sudo dpkg --purge kranzel-standin >/dev/null
expect_registrations purge none
$sudo dpkg -i "$standin" >/dev/null
expect_registrations "install again" "1 x UsageCount=1"

echo "== one import with the installed files"
/usr/bin/kranzel-ini --version
root="$work/root"
mkdir -p "$root/Files" "$root/Valdura_php/log" "$root/x/y/in" "$work/odbc"
# The system's driver registration, a data source of this check's own.
export ODBCSYSINI="$work/odbc"
cp /etc/odbcinst.ini "$ODBCSYSINI/odbcinst.ini"
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
echo "package-check: both packages built, lintian-clean, hardened; one or no driver registration; the installed package imported a file."
