#!/usr/bin/env bash
# Checks what a built tree installs: scripts/check-install.sh BUILD_DIR. Installs into a scratch
# prefix, validates the desktop entry and the metainfo, starts the installed game from an
# unrelated folder with an empty data folder and no update server until it has loaded, and
# builds the Debian package, checks what it holds and runs lintian on it. Needs a display
# (DISPLAY) for the game.
set -euo pipefail
build=$(cd "$1" && pwd)
app_id=org.trellik.Trellik

scratch=$(mktemp -d)
game_pid=
cleanup() {
  if [[ -n $game_pid ]]; then
    kill "$game_pid" 2>/dev/null || true
    wait "$game_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
  echo "check-install: $*" >&2
  exit 1
}

# The class part of the WM_CLASS of the first window process PID shows within 20 s, or nothing.
window_class_of() {
  local window=
  for _ in $(seq 1 200); do
    window=$(xdotool search --pid "$1" 2>/dev/null | head -n 1 || true)
    [[ -n $window ]] && break
    sleep 0.1
  done
  [[ -n $window ]] || return 0
  xprop -id "$window" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p' || true
}

# What an install holds, relative to its prefix.
expected=(
  games/trellik games/trellik-tool games/trellik-update-server games/trellik-ranking-server
  share/trellik/server/font.fnt share/trellik/server/gfx/bigLogo.tga share/trellik/server/snd/mainmenu.mp3
  share/trellik/demo/sng/drift.mp3 share/trellik/demo/MKR share/trellik/stock-version
  share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml
  share/icons/hicolor/48x48/apps/$app_id.png share/icons/hicolor/128x128/apps/$app_id.png
  share/icons/hicolor/256x256/apps/$app_id.png share/icons/hicolor/scalable/apps/$app_id.svg
  share/man/man6/trellik.6.gz share/man/man1/trellik-tool.1.gz share/man/man1/trellik-update-server.1.gz
  share/man/man1/trellik-ranking-server.1.gz share/doc/trellik/ranking-server.md
  share/doc/trellik/copyright share/doc/trellik/changelog.Debian.gz
)

prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for path in "${expected[@]}"; do
  [[ -e $prefix/$path ]] || fail "the install lacks $path"
done
for size in 48 128 256; do
  file -b "$prefix/share/icons/hicolor/${size}x$size/apps/$app_id.png" | grep -q "^PNG image data, $size x $size," ||
    fail "the ${size}x$size icon is not a PNG of that size"
done
[[ ! -e $prefix/share/trellik/server/TrellikGL ]] || fail "the install holds the server's copy of the program"

desktop-file-validate "$prefix/share/applications/$app_id.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml" >/dev/null ||
  fail "the metainfo is not valid: $(appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml")"

# Every option a program's usage names is in its manual page (each tool command's too).
options_of() { "$@" --help 2>&1 | grep -o -E -- '--[a-z][a-z-]*' | grep -v -x -- --help | sort -u || true; }
check_manual() {
  local page=$1; shift
  local text
  text=$(gzip -dc "$prefix/share/man/$page" | sed 's/\\-/-/g')
  for option in $(options_of "$@"); do
    grep -q -F -- "$option" <<<"$text" || fail "man page $page does not list $option of $*"
  done
}
check_manual man6/trellik.6.gz "$prefix/games/trellik"
check_manual man1/trellik-update-server.1.gz "$prefix/games/trellik-update-server"
check_manual man1/trellik-ranking-server.1.gz "$prefix/games/trellik-ranking-server"
for command in $("$prefix/games/trellik-tool" --help | sed -n 's/^  \([a-z]*\) .*/\1/p'); do
  check_manual man1/trellik-tool.1.gz "$prefix/games/trellik-tool" "$command"
done

# Starts the installed game from elsewhere without a server and waits until it has loaded.
elsewhere=$scratch/elsewhere
mkdir -p "$elsewhere" "$scratch/data" "$scratch/config"
log=$scratch/data/Trellik/debug.txt
start_until_loaded() {
  rm -f "$log"
  (
    cd "$elsewhere"
    exec env XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" TRELLIK_UPDATE_URL=http://127.0.0.1:9/ \
      "$prefix/games/trellik" --start >"$scratch/game.out" 2>&1
  ) &
  game_pid=$!
  local loaded=no
  for _ in $(seq 1 600); do
    if [[ -f $log ]] && [[ $(tail -n 1 "$log") == "Time Taken"* ]]; then loaded=yes; break; fi
    kill -0 "$game_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ $loaded == yes ]] || fail "the installed game did not load $1: $(cat "$scratch/game.out" "$log" 2>/dev/null | tail -n 5)"
}

stop_game() {
  kill "$game_pid" 2>/dev/null || true
  wait "$game_pid" 2>/dev/null || true
  game_pid=
}

# The first start (left running) makes the player's game folder.
start_until_loaded "in a new data folder"
[[ -d $scratch/data/Trellik/sng && ! -e $scratch/data/Trellik.partial ]] || fail "the game folder was not made whole"
[[ ! -e $elsewhere/debug.txt ]] || fail "the game played in the folder it was started from"
# Docks tie the game's and the launcher's windows to the menu entry through their WM_CLASS.
wm_class=$(grep '^StartupWMClass=' "$prefix/share/applications/$app_id.desktop" | cut -d= -f2)
game_class=$(window_class_of "$game_pid")
[[ -n $wm_class && $game_class == "$wm_class" ]] ||
  fail "the game window's WM_CLASS is \"$game_class\", the desktop entry's StartupWMClass \"$wm_class\""
stop_game
(
  cd "$elsewhere"
  exec env XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" TRELLIK_UPDATE_URL=http://127.0.0.1:9/ \
    QT_QPA_PLATFORM=xcb "$prefix/games/trellik" >"$scratch/launcher.out" 2>&1
) &
game_pid=$!
launcher_class=$(window_class_of "$game_pid")
[[ $launcher_class == "$wm_class" ]] ||
  fail "the launcher window's WM_CLASS is \"$launcher_class\", the desktop entry's StartupWMClass \"$wm_class\""
stop_game

# A data folder holding only the records of earlier plays is given the stock files and demo songs.
find "$scratch/data/Trellik" -mindepth 1 -maxdepth 1 ! -name records.sqlite3 -exec rm -rf {} +
start_until_loaded "in a data folder holding only its records"
stop_game
cmp -s "$scratch/data/Trellik/.stock-version" "$prefix/share/trellik/stock-version" ||
  fail "the data folder did not note the stock version it was filled from"

# A data folder that cannot be made ends the start with one message naming it.
touch "$scratch/file-not-folder"
status=0
(cd "$elsewhere" && XDG_DATA_HOME="$scratch/file-not-folder" TRELLIK_HEADLESS=1 \
  "$prefix/games/trellik" --start >"$scratch/refused.out" 2>&1) || status=$?
[[ $status -ne 0 ]] || fail "the game started without a game folder"
grep -q "$scratch/file-not-folder/Trellik" "$scratch/refused.out" ||
  fail "the message does not name the game folder: $(cat "$scratch/refused.out")"

# The Debian package holds the same files under /usr.
cpack -G DEB -B "$scratch/package" --config "$build/CPackConfig.cmake" >"$scratch/cpack.out" 2>&1 ||
  fail "cpack failed: $(tail -n 5 "$scratch/cpack.out")"
package=$(ls "$scratch"/package/trellik_*.deb)
contents=$(dpkg-deb --contents "$package")
for path in "${expected[@]}"; do
  grep -q " \./usr/$path/\?\$" <<<"$contents" || fail "the package lacks /usr/$path"
done
fields=$(dpkg-deb --field "$package" Package Section Depends)
grep -q '^Section: games$' <<<"$fields" || fail "the package is not in section games"
grep -q '^Depends: .*libqt6widgets6' <<<"$fields" || fail "the package's Depends lack the Qt libraries: $fields"
# Warnings are printed for whoever reads the log; an error fails the check.
lintian --fail-on error "$package" >"$scratch/lintian.out" 2>&1 ||
  fail "lintian finds errors in the package: $(cat "$scratch/lintian.out")"
cat "$scratch/lintian.out"
echo "check-install: install, desktop entry, metainfo, first start, package and lintian are as expected"
