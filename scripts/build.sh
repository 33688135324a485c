#!/usr/bin/env bash
# Configures and builds the project: scripts/build.sh BUILD_DIR BUILD_TYPE [extra cmake options...]
set -euo pipefail
build_dir=$1
build_type=$2
shift 2
cmake -S "$(dirname "$0")/.." -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
cmake --build "$build_dir" -j2
