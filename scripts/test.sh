#!/usr/bin/env bash
# Installs what is missing, builds Halvoric with its tests and runs every test;
# then builds them again under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own (the build folder's name
# with -sanitize) and runs every test there, where any report fails the test
# whose process made it; last builds the fuzz targets and runs each for a
# fixed number of runs over its corpus (scripts/fuzz.sh), where any finding
# fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
halvoric_install_packages

run_tests() {
  (cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 120)
}

build_dir="$(halvoric_build_dir)"
halvoric_build
run_tests "$build_dir"

# A report ends the process at once with status 1 (halt_on_error; undefined
# behaviour is fatal by the build's flags), and leaks found at exit turn a
# passing process's status into 1, so ctest sees every report as a failure.
# handle_sigbus=0 leaves bus errors to the file views' own handler, which hands
# those that are not a view's on to the default action. Exported before
# building because the build runs the test programs to list their tests.
export ASAN_OPTIONS=detect_leaks=1:handle_sigbus=0:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# Without the benchmark, and at -O1 with line tables only, the sanitizer build
# takes about as long as the plain one.
halvoric_build_in "$build_dir-sanitize" -DHALVORIC_SANITIZE=ON -DHALVORIC_BUILD_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
run_tests "$build_dir-sanitize"

"$(dirname "${BASH_SOURCE[0]}")/fuzz.sh"
