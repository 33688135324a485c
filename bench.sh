#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs each under a private X display; figures are printed as
#   figure NAME p50=X p99=Y max=Z unit=U    or    figure NAME value=X unit=U
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/build.sh build-release Release -DTRELLIK_WERROR=OFF

source scripts/xvfb.sh
start_xvfb
export TRELLIK_AUDIO=silent QT_QPA_PLATFORM=offscreen TRELLIK_HEADLESS=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

status=0
for program in build-release/bench/bench_*; do
  [[ -x "$program" && -f "$program" ]] || continue
  echo "== $(basename "$program")"
  "$program" || { echo "$(basename "$program") failed" >&2; status=1; }
done
exit $status
