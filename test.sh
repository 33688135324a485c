#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test under a private X display.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/build.sh build RelWithDebInfo

source scripts/xvfb.sh
start_xvfb
export TRELLIK_AUDIO=silent QT_QPA_PLATFORM=offscreen TRELLIK_HEADLESS=1 LIBGL_ALWAYS_SOFTWARE=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

ctest --test-dir build --output-on-failure -j2
