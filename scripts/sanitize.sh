#!/usr/bin/env bash
# Builds the libraries, the programs and the tests with AddressSanitizer (with its leak checker)
# and UndefinedBehaviorSanitizer in build-asan, and runs the tests with CTest. Address and leak
# reports, also from programs a test starts, go to log files, and any log fails the run. An
# undefined-behaviour report ends its program at once with a failure status (the build does not
# recover from them) and is printed on its standard error, as GCC's runtime ignores log_path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The main build's compiler (GCC), so that code the main build accepts builds here too. Warnings
# are held to -Werror by the main build. A folder left by a clang build is started afresh.
if [[ -f build-asan/CMakeCache.txt ]] && grep -q '^CMAKE_CXX_COMPILER:.*clang' build-asan/CMakeCache.txt; then
  rm -rf build-asan
fi
scripts/build.sh build-asan RelWithDebInfo -DTRELLIK_SANITIZE=ON -DTRELLIK_WERROR=OFF

if [[ -z "${DISPLAY:-}" ]]; then
  source scripts/xvfb.sh
  start_xvfb
fi
if [[ -z "${PULSE_SERVER:-}" ]]; then
  source scripts/sound-server.sh
  start_sound_server
fi
export TRELLIK_AUDIO=${TRELLIK_AUDIO:-silent} QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export TRELLIK_HEADLESS=${TRELLIK_HEADLESS:-1} LIBGL_ALWAYS_SOFTWARE=${LIBGL_ALWAYS_SOFTWARE:-1}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

logs=$root/build-asan/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS="log_path=$logs/asan:detect_leaks=1:strict_init_order=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/scripts/ubsan.supp"

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
