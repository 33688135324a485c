#!/usr/bin/env bash
# Sets up what is missing, builds, runs the fuzzers, the tests of the sanitizer build and then
# every test of the main build under a private X display.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
# The Release configuration users build (-O3), so what breaks only that build fails here.
scripts/build.sh build Release

source scripts/xvfb.sh
start_xvfb
# A private sound server for the tests that play on one (they ask for it themselves; every
# other test keeps the silent clock below).
source scripts/sound-server.sh
start_sound_server
# A private PostgreSQL cluster: the ranking server's tests run once on SQLite and once on it
# (TRELLIK_POSTGRES). Its files are scratch, so nothing is flushed to disk.
source scripts/postgres.sh
start_postgres -c fsync=off -c synchronous_commit=off -c full_page_writes=off
export TRELLIK_AUDIO=silent QT_QPA_PLATFORM=offscreen TRELLIK_HEADLESS=1 LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
# Games the tests start keep their plays here, never in the player's own records.
XDG_DATA_HOME=$(mktemp -d)
export XDG_DATA_HOME

fuzz_status=0
scripts/fuzz.sh || fuzz_status=$?

sanitize_status=0
scripts/sanitize.sh || sanitize_status=$?

[[ $fuzz_status -eq 0 ]] || echo "The fuzz targets found faults (see above)." >&2
[[ $sanitize_status -eq 0 ]] || echo "The sanitizer build found faults (see above)." >&2

# The main build's tests run last, so that CTest's summary is the last thing printed.
ctest_status=0
ctest --test-dir build --output-on-failure -j2 || ctest_status=$?
[[ $ctest_status -ne 0 ]] && exit $ctest_status
[[ $sanitize_status -ne 0 ]] && exit $sanitize_status
exit $fuzz_status
