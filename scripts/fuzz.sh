#!/usr/bin/env bash
# Builds every fuzz target (tests/fuzz/fuzz_NAME.cpp) with clang and libFuzzer and runs each for a
# short, bounded time over its seed corpus tests/corpus/NAME/. Any crash or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${TRELLIK_FUZZ_SECONDS:-20}
shopt -s nullglob
targets=(tests/fuzz/fuzz_*.cpp)
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "fuzz: no targets"
  exit 0
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTRELLIK_FUZZ=ON -DTRELLIK_WERROR=OFF -DTRELLIK_BUILD_LAUNCHER=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzz_targets

status=0
for source in "${targets[@]}"; do
  name=$(basename "$source" .cpp)
  corpus=tests/corpus/${name#fuzz_}
  work=$(mktemp -d)
  [[ -d "$corpus" ]] && cp -r "$corpus"/. "$work"/
  echo "fuzz: $name for ${seconds}s"
  if ! build-fuzz/tests/"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=0 -artifact_prefix=build-fuzz/"$name"- "$work" >build-fuzz/"$name".log 2>&1; then
    echo "fuzz: $name FOUND A FAULT (see build-fuzz/$name.log)" >&2
    tail -n 40 build-fuzz/"$name".log >&2
    status=1
  fi
  rm -rf "$work"
done
exit $status
