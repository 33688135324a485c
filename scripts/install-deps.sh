#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the game need; quick when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsdl2-dev libgl-dev libglu1-mesa-dev libmpg123-dev libjpeg62-turbo-dev
  libcurl4-openssl-dev qt6-base-dev nlohmann-json3-dev libcpp-httplib-dev libboost-dev nginx
  libmp3lame-dev libfreetype-dev fonts-dejavu-core fonts-ipafont-gothic
  xvfb xauth libgl1-mesa-dri xdotool imagemagick libxtst-dev x11-utils
  libpulse-dev pulseaudio pulseaudio-utils libsqlite3-dev libpq-dev postgresql librubberband-dev
  desktop-file-utils appstream dpkg-dev file zlib1g-dev lintian
  python3 fluidsynth fluid-soundfont-gm lame
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
