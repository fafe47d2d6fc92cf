#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a folder of their own
# (the build folder's name with -fuzz), and runs them.
#
#   scripts/fuzz.sh
#       What scripts/test.sh runs: every target for a fixed number of runs
#       with a fixed seed, over its checked-in corpus and, for the inspection,
#       the sample documents in ../shared/samples where that folder exists
#       (read where they are). Any finding fails.
#   scripts/fuzz.sh TARGET [libFuzzer options ...]
#       One target (inspection, reply or file_uri) over the same inputs with
#       the options given instead, e.g. -max_total_time=600 -jobs=2 -workers=2.
#
# The inputs that a run finds new stay in <build>-fuzz/corpus/TARGET (emptied
# first), and a finding is written to <build>-fuzz/findings/, with the
# libFuzzer logs of -jobs runs: nothing is written into the source tree.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"
halvoric_install_packages

source_dir="$(halvoric_source_dir)"
fuzz_dir="$(halvoric_build_dir)-fuzz"
# Each target's number of runs in CI: well under 60 s apiece on two busy cores.
declare -A ci_runs=([inspection]=2000 [reply]=8000 [file_uri]=80000)
ci_seed=1

# The build takes the sanitizer settings of its own; any left from the
# sanitizer build's tests would only get in the way.
unset ASAN_OPTIONS UBSAN_OPTIONS
halvoric_build_in "$fuzz_dir" -DHALVORIC_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo

export ASAN_OPTIONS=detect_leaks=1:handle_sigbus=0:halt_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

run_target() {
  local target="$1"
  shift
  local found="$fuzz_dir/corpus/$target"
  local inputs=("$source_dir/tests/fuzz/corpus/$target")
  if [ "$target" = inspection ] && [ -d "$source_dir/../shared/samples" ]; then
    inputs+=("$(cd "$source_dir/../shared/samples" && pwd)")
  fi
  rm -rf "$found"
  mkdir -p "$found" "$fuzz_dir/findings"
  # From the build folder, where -jobs runs leave their logs.
  (cd "$fuzz_dir" && "$fuzz_dir/bin/${target}_fuzz" -artifact_prefix="$fuzz_dir/findings/$target-" \
    -dict="$source_dir/tests/fuzz/$target.dict" -timeout=30 "$@" "$found" "${inputs[@]}")
}

if [ $# -gt 0 ]; then
  target="$1"
  shift
  [ -n "${ci_runs[$target]:-}" ] || { echo "no fuzz target $target (inspection, reply, file_uri)" >&2; exit 2; }
  run_target "$target" "$@"
  exit
fi

for target in inspection reply file_uri; do
  log="$fuzz_dir/$target.log"
  start=$SECONDS
  if ! run_target "$target" -runs="${ci_runs[$target]}" -seed="$ci_seed" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz $target: FINDING (the input is in $fuzz_dir/findings/, the whole log in $log)"
    exit 1
  fi
  echo "fuzz $target: ${ci_runs[$target]} runs, seed $ci_seed, $((SECONDS - start)) s, no finding;" \
    "$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)"
done
echo "fuzz: ${#ci_runs[@]} passed, 0 failed"
