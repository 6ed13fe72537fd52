#!/usr/bin/env bash
# CPU to play one hour (PMX_BENCH_SECONDS) of a WAV, an Ogg Vorbis and an MP3
# recording into ALSA's null PCM as the recorder plays them, against aplay,
# ogg123 and mpg123 playing the same files into the same PCM, run alternately.
# Prints each run and the CPU ratio ours / theirs (the goal is 1.2 at most).
# The streaming output polls without waiting (the null PCM takes every buffer
# at once), so wall time shows decoding speed too.
# PMX_BENCH_ROUNDS: runs of each (2).
set -euo pipefail
cd "$(dirname "$0")/.."
player=build/dev/bench/playback_player
[ -x "$player" ] || { echo "build it first (cmake --build --preset dev --target playback_player)" >&2; exit 1; }
for tool in sox oggenc lame aplay ogg123 mpg123; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
seconds=${PMX_BENCH_SECONDS:-3600}
rounds=${PMX_BENCH_ROUNDS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise sine 440 gain -6
oggenc -Q -q 2 -o "$work/in.ogg" "$work/in.wav"
lame -S -b 128 "$work/in.wav" "$work/in.mp3"

# Wall, user+system seconds of one command.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

compare() {  # kind, their command...
  local kind=$1 ours=0 theirs=0 w c
  shift
  for ((i = 1; i <= rounds; i++)); do
    read -r w c < <(measure "$player" "$work/in.$kind" null 0)
    echo "$kind ours run $i: wall ${w}s cpu ${c}s"
    ours=$(echo "$ours + $c" | bc)
    read -r w c < <(measure "$@")
    echo "$kind $1 run $i: wall ${w}s cpu ${c}s"
    theirs=$(echo "$theirs + $c" | bc)
  done
  echo "$kind cpu ratio ours / $1: $(echo "scale=2; $ours / $theirs" | bc)"
}

compare wav aplay -q -D null "$work/in.wav"
compare ogg ogg123 -q -d alsa -o dev:null "$work/in.ogg"
compare mp3 mpg123 -q -o alsa -a null "$work/in.mp3"
