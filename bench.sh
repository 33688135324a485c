#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs each under a private X display; figures are printed as
#   figure NAME p50=X p99=Y max=Z unit=U    or    figure NAME value=X unit=U
# The half-hour soak (every demo chart played twice) runs only when asked: ./bench.sh --soak
# A private sound server runs for the whole run; the benchmarks play on the silent output unless
# they choose the server themselves (bench_heard_clock does, and bench_game's server pass).
# The benchmarks that press keys through the X server run a second time with presses timed when
# the game handles them (TRELLIK_PRESS_TIME=dispatch); their press figures then end in _dispatch.
# bench_game runs once more with Mesa's renderer on one thread and the game below the X server's
# priority (TRELLIK_BENCH_CALM=1); its press figure ends in _calm. bench_pointer (the game played
# by mouse clicks) gets the same calm pass.
set -euo pipefail
cd "$(dirname "$0")"

with_soak=0
for argument in "$@"; do
  case "$argument" in
    --soak) with_soak=1 ;;
    *) echo "usage: ./bench.sh [--soak]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh
# Only the benchmarks and the stock pack they play (tests are test.sh's); a compiler warning in an
# optimised build does not keep the figures from being measured.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELLIK_WERROR=OFF >/dev/null
benchmarks=()
for source in bench/bench_*.cpp; do
  name=$(basename "$source" .cpp)
  [[ $name == bench_soak && $with_soak -eq 0 ]] && continue
  benchmarks+=("$name")
done
cmake --build build-release -j2 --target "${benchmarks[@]}" stockpack

source scripts/xvfb.sh
start_xvfb
source scripts/sound-server.sh
start_sound_server
# The ranking benchmarks measure on PostgreSQL too, in a private cluster (TRELLIK_POSTGRES).
source scripts/postgres.sh
start_postgres
export TRELLIK_AUDIO=silent QT_QPA_PLATFORM=offscreen TRELLIK_HEADLESS=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

status=0
for name in "${benchmarks[@]}"; do
  echo "== $name"
  "build-release/bench/$name" || { echo "$name failed" >&2; status=1; }
  if [[ $name == bench_game || $name == bench_playback ]]; then
    echo "== $name with presses timed at dispatch"
    TRELLIK_PRESS_TIME=dispatch "build-release/bench/$name" || { echo "$name timed at dispatch failed" >&2; status=1; }
  fi
  if [[ $name == bench_pointer ]]; then
    echo "== $name with the renderer on one thread and the game below the X server's priority"
    TRELLIK_BENCH_CALM=1 "build-release/bench/$name" || { echo "$name in the calm pass failed" >&2; status=1; }
  fi
  if [[ $name == bench_game ]]; then
    echo "== $name with the renderer on one thread and the game below the X server's priority"
    TRELLIK_BENCH_CALM=1 "build-release/bench/$name" || { echo "$name in the calm pass failed" >&2; status=1; }
    echo "== $name on the sound server"
    TRELLIK_BENCH_SERVER=1 "build-release/bench/$name" || { echo "$name on the sound server failed" >&2; status=1; }
  fi
done
exit $status
