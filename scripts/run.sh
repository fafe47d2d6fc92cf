#!/usr/bin/env bash
# Installs what is missing, builds Halvoric and starts it. Documents given on
# the command line are opened as if the desktop had handed them in.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
halvoric_install_packages
halvoric_build
build_dir="${HALVORIC_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
exec "$build_dir/bin/halvoric" "$@"
