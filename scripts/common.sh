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
  dpkg-dev file
)

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
