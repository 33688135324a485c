#!/usr/bin/env bash
# Sets up what is missing, builds every program, makes the stock pack, prepares game/ and
# starts Trellik with the project's own update server serving the stock files.
set -euo pipefail
cd "$(dirname "$0")"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "Trellik needs a graphical desktop: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
  exit 1
fi

build=build-release
pack=$build/stockpack

scripts/install-deps.sh
# A pack that was deleted since the last build is made again.
if [[ -d $build && ! -d $pack/server ]]; then
  rm -f "$pack/stamp"
fi
# Every program a player or a song author runs, and the stock pack (tests are test.sh's); a
# compiler warning does not keep a player from playing.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELLIK_WERROR=OFF >/dev/null
cmake --build "$build" -j2 --target TrellikGL38 trellik-tool trellik-update-server \
  trellik-ranking-server stockpack stockpack_program

# A new game folder gets the demo songs and marker skins; an existing one is left as the
# player keeps it (the stock files themselves come from the update server on first run).
if [[ ! -d game ]]; then
  fresh=$build/game.new
  rm -rf "$fresh"
  mkdir -p "$fresh"
  cp -R "$pack/demo/sng" "$pack/demo/MKR" "$fresh/"
  mv "$fresh" game
fi

server_log=$build/update-server.log
server_pid=
stop_server() {
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap stop_server EXIT
trap 'stop_server; exit 130' INT
trap 'stop_server; exit 143' TERM

"$build/tools/trellik-update-server" --root "$pack/server" --port 0 >"$server_log" 2>&1 &
server_pid=$!
url=
for _ in $(seq 1 100); do
  url=$(sed -n 's/^listening on \(http:\/\/127\.0\.0\.1:[0-9]*\/\)$/\1/p' "$server_log")
  [[ -n $url ]] && break
  if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if [[ -z $url ]]; then
  echo "The update server did not start; see $server_log." >&2
  exit 1
fi
export TRELLIK_UPDATE_URL=$url

status=0
(cd game && "../$build/launcher/TrellikGL38" "$@") || status=$?
exit $status
