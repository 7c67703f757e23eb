# Shared by the project's scripts: install what is missing, build.
# shellcheck shell=bash

KRANZEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# Debian packages the build, the tests and the demo need.
KRANZEL_PACKAGES=(
  g++ cmake make pkg-config
  libgtest-dev libgmock-dev
  unixodbc unixodbc-dev odbcinst
  libsqlite3-dev sqlite3
  faketime
  python3 python3-pycryptodome
  valgrind
  dpkg-dev file
)

# Only scripts/check-style.sh: the formatter, clang-tidy, and jq to read the
# compilation database.
KRANZEL_STYLE_PACKAGES=(clang-format clang-tidy jq)
# Only scripts/bench.sh: the peer driver of standin_bench.
KRANZEL_BENCH_PACKAGES=(libsqliteodbc)
# The production driver on Linux (FreeTDS ODBC) and its tsql, for the
# end-to-end run through FreeTDS and `scripts/demo.sh --tds`.
KRANZEL_TDS_PACKAGES=(tdsodbc freetds-bin)
# The client matrix of the TDS listener (tests TdsClients.*): pymssql, PHP's
# pdo_dblib and odbc, Perl's DBD::Sybase; Node's tedious comes from the npm
# registry (KRANZEL_TEDIOUS_VERSION) into <build>/node-clients, never into
# the tree. scripts/install-clients.sh installs all of it.
KRANZEL_CLIENT_PACKAGES=(python3-pymssql php8.2-cli php8.2-sybase php8.2-odbc libdbd-sybase-perl)
KRANZEL_TEDIOUS_VERSION=19.0.0

# ensure_client_matrix BUILD_DIR: the TDS packages, the client packages,
# Node with npm (Debian's, unless a Node with its own npm is there) and
# tedious in BUILD_DIR/node-clients.
ensure_client_matrix() {
  local dir="$1"
  ensure_packages "${KRANZEL_TDS_PACKAGES[@]}" "${KRANZEL_CLIENT_PACKAGES[@]}"
  command -v npm >/dev/null 2>&1 || ensure_packages nodejs npm
  if [ ! -f "$dir/node-clients/node_modules/tedious/package.json" ] ||
    ! grep -q "\"version\": \"$KRANZEL_TEDIOUS_VERSION\"" "$dir/node-clients/node_modules/tedious/package.json"; then
    mkdir -p "$dir/node-clients"
    npm install --no-audit --no-fund --prefix "$dir/node-clients" "tedious@$KRANZEL_TEDIOUS_VERSION"
  fi
}

# What scripts/fuzz.sh needs besides: clang and its libFuzzer runtime.
KRANZEL_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The Windows build (mingw-w64 cross compiler, wixl from msitools for the
# MSI) and Wine, which runs the Windows programs in the tests.
# scripts/build-windows.sh installs the build's packages; scripts/test.sh
# installs both.
KRANZEL_WINDOWS_BUILD_PACKAGES=(g++-mingw-w64-x86-64 mingw-w64 msitools wixl)
KRANZEL_WINDOWS_TEST_PACKAGES=("${KRANZEL_WINDOWS_BUILD_PACKAGES[@]}" wine64)
# Only scripts/package-check.sh and scripts/deploy-check.sh: the Debian
# packages' build (debhelper over CMake), lintian, systemd-analyze for the
# example units, jq for the page's one-liners, FreeTDS for its messages.
KRANZEL_PACKAGING_PACKAGES=(build-essential debhelper lintian systemd jq procps tdsodbc)

# Every package any script of the project needs: each KRANZEL_*_PACKAGES
# list above (and any list added beside them), once each. scripts/test.sh
# installs them all, so that no group of tests lacks its tools.
all_packages() {
  local name
  for name in $(compgen -A variable | grep -E '^KRANZEL_[A-Z_]*PACKAGES$'); do
    local -n list="$name"
    printf '%s\n' "${list[@]}"
  done | sort -u
}

# True when the Windows programs can be built and run here.
have_windows_tools() {
  command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1 &&
    { command -v wine64 >/dev/null 2>&1 || [ -x /usr/lib/wine/wine64 ] || command -v wine >/dev/null 2>&1; }
}

ensure_packages() {
  local missing=()
  for p in "${KRANZEL_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

# build DIR [cmake options...]
build() {
  local dir="$1"; shift
  cmake -S "$KRANZEL_ROOT" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
}

# build_debian_packages DIR: builds kranzel and kranzel-standin (and their
# -dbgsym packages) from a copy of the working tree in DIR/src, with
# dpkg-buildpackage, which leaves the .deb files in DIR.
build_debian_packages() {
  local dir="$1"
  rm -rf "$dir/src" "$dir"/*.deb "$dir"/*.ddeb "$dir"/*.changes "$dir"/*.buildinfo
  mkdir -p "$dir/src"
  tar -C "$KRANZEL_ROOT" --exclude='./build*' --exclude=./.git --exclude=./demo -cf - . |
    tar -C "$dir/src" -xf -
  (cd "$dir/src" && DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}" \
    dpkg-buildpackage -b --no-sign)
}
