#!/usr/bin/env bash
# kobrinvert against oggenc on the same WAV (default ten minutes of 44.1 kHz
# stereo), taking turns A B B A... so that both see the same machine.
# kobrinvert's quality 0.2 is libvorbis' quality 0.2, which oggenc writes as -q 2.
# Each run prints its wall and CPU (user + system) seconds and what it encoded
# (the sample frames its .ogg holds by its last page, and seconds); then the
# min/median/max of each and the ratios of the medians kobrinvert / oggenc.
# kobrinvert's wall time includes its fixed start-up wait of about one second.
# PMX_BENCH_PROGRAM: the kobrinvert to measure (build/dev/bin/kobrinvert);
# PMX_BENCH_SECONDS: length of the WAV (600); PMX_BENCH_ROUNDS: runs of each (4).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/support/compare.sh
program=${PMX_BENCH_PROGRAM:-build/dev/bin/kobrinvert}
[ -x "$program" ] || { echo "build kobrinvert first (cmake --build --preset dev --target kobrinvert)" >&2; exit 1; }
seconds=${PMX_BENCH_SECONDS:-600}
rounds=${PMX_BENCH_ROUNDS:-4}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise sine 440 gain -6
echo "input: $(wav_length "$work/in.wav" | awk '{ print $1 " frames, " $2 " s" }')"

# Wall, user+system seconds of one command.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

# The sample frames an .ogg holds: its last page's granule position (the stream
# starts at 0).
ogg_frames() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
print(struct.unpack_from('<q', data, data.rfind(b'OggS') + 6)[0])
PY
}

run() {
  case $1 in
    kobrinvert) QT_QPA_PLATFORM=offscreen measure "$program" "$work/in.wav" 0.2 0 0 0 ;;
    oggenc) measure oggenc -Q -q 2 -o "$work/oggenc.ogg" "$work/in.wav" ;;
  esac
}

for ((i = 1; i <= rounds; i++)); do
  for who in $(round_order "$i" kobrinvert oggenc); do
    rm -f "$work/in.ogg" "$work/oggenc.ogg"
    read -r wall cpu < <(run "$who")
    ogg=$work/in.ogg
    [ "$who" = oggenc ] && ogg=$work/oggenc.ogg
    frames=$(ogg_frames "$ogg")
    echo "$who run $i: encoded $frames frames ($(awk -v f="$frames" 'BEGIN { printf "%.2f", f / 44100 }') s)," \
      "$(stat -c %s "$ogg") bytes, wall ${wall}s cpu ${cpu}s"
    echo "$wall" >> "$work/$who.wall"
    echo "$cpu" >> "$work/$who.cpu"
  done
done
for who in kobrinvert oggenc; do
  echo "$who min/median/max: wall $(spread < "$work/$who.wall") s, cpu $(spread < "$work/$who.cpu") s"
done
echo "ratio of medians kobrinvert/oggenc: wall $(ratio "$(median < "$work/kobrinvert.wall")" \
  "$(median < "$work/oggenc.wall")"), cpu $(ratio "$(median < "$work/kobrinvert.cpu")" "$(median < "$work/oggenc.cpu")")"
