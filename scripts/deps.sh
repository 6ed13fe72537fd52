#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Pelmorax need.
# Only what is missing is installed, so a second run costs a few dpkg queries.
# With --test it adds what only the tests need: a private sound server for the
# playback test through ALSA's pulse plugin (never installed for a recorder alone,
# where it could become the sound card's "default"), and ffmpeg, whose ADPCM WAVs
# the tests play.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  qt6-base-dev libgl-dev fonts-dejavu-core
  libasound2-dev libasound2-plugins alsa-utils
  libogg-dev libvorbis-dev vorbis-tools
  libmpg123-dev libmp3lame-dev lame libgsm1-dev
  libavformat-dev libavcodec-dev libswresample-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  sox xvfb xauth
)
[ "${1:-}" = --test ] && packages+=(pulseaudio pulseaudio-utils perl ffmpeg)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
