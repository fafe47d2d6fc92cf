#!/usr/bin/env bash
# Installs what is missing, builds Halvoric with its tests and runs every test.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
halvoric_install_packages
halvoric_build
build_dir="${HALVORIC_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 120
