#!/usr/bin/env bash
# Sets up what is missing, builds, and starts Trellik.
set -euo pipefail
cd "$(dirname "$0")"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Trellik needs a graphical desktop: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  exit 1
fi

scripts/install-deps.sh
scripts/build.sh build-release Release

mkdir -p game
cd game
exec ../build-release/launcher/TrellikGL38 "$@"
