#!/usr/bin/env bash
# Builds the libraries, the programs and the tests with AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer in build-asan, and runs the tests with CTest. Every report of a
# sanitizer, also from a program a test starts, goes to a log file; any log fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# clang, because with GCC the undefined-behaviour reports ignore log_path and would be lost in
# the output of a program that a test starts. Warnings are held to -Werror by the main build.
if [[ -f build-asan/CMakeCache.txt ]] && ! grep -q '^CMAKE_CXX_COMPILER:.*clang++' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
CC=clang CXX=clang++ scripts/build.sh build-asan RelWithDebInfo -DTRELLIK_SANITIZE=ON -DTRELLIK_WERROR=OFF

if [[ -z "${DISPLAY:-}" ]]; then
  source scripts/xvfb.sh
  start_xvfb
fi
export TRELLIK_AUDIO=${TRELLIK_AUDIO:-silent} QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export TRELLIK_HEADLESS=${TRELLIK_HEADLESS:-1} LIBGL_ALWAYS_SOFTWARE=${LIBGL_ALWAYS_SOFTWARE:-1}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

logs=$root/build-asan/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1:strict_init_order=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="log_path=$logs/ubsan:print_stacktrace=1:halt_on_error=1:suppressions=$root/scripts/ubsan.supp"

ctest_status=0
ctest --test-dir build-asan --output-on-failure -j2 || ctest_status=$?

shopt -s nullglob
reports=("$logs"/*)
if [[ ${#reports[@]} -gt 0 ]]; then
  echo "sanitize: ${#reports[@]} sanitizer report(s):" >&2
  for report in "${reports[@]}"; do
    echo "==== $report" >&2
    head -n 60 "$report" >&2
  done
  exit 1
fi
exit $ctest_status
