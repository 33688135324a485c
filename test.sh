#!/usr/bin/env bash
# Sets up what is missing, builds, runs every test under a private X display, then the fuzzers.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/build.sh build RelWithDebInfo

source scripts/xvfb.sh
start_xvfb
export TRELLIK_AUDIO=silent QT_QPA_PLATFORM=offscreen TRELLIK_HEADLESS=1 LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

fuzz_status=0
scripts/fuzz.sh || fuzz_status=$?

ctest_status=0
ctest --test-dir build --output-on-failure -j2 || ctest_status=$?
[[ $fuzz_status -eq 0 ]] || echo "The fuzz targets found faults (see above)." >&2
[[ $ctest_status -ne 0 ]] && exit $ctest_status
exit $fuzz_status
