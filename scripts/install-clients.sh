#!/usr/bin/env bash
# Installs the SQL Server clients the TDS listener's client matrix runs
# (tests TdsClients.*): the Debian packages of KRANZEL_CLIENT_PACKAGES and
# Node's tedious into BUILD_DIR/node-clients.
#
#   scripts/install-clients.sh [BUILD_DIR]     (default: build)
set -euo pipefail
source "$(dirname "$0")/common.sh"
dir="${1:-$KRANZEL_ROOT/build}"
ensure_client_matrix "$dir"
