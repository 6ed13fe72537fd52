#!/usr/bin/env bash
# kobrinvert against oggenc on the same WAV (default one hour of 44.1 kHz stereo),
# run alternately so that both see the same machine. Prints each run and the
# wall and CPU ratios kobrinvert / oggenc. kobrinvert's quality 0.2 is libvorbis'
# quality 0.2, which oggenc writes as -q 2.
# PMX_BENCH_SECONDS: length of the WAV (3600); PMX_BENCH_ROUNDS: runs of each (2).
# kobrinvert's wall time includes its fixed start-up wait of about one second.
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/dev/bin/kobrinvert
[ -x "$program" ] || { echo "build kobrinvert first (cmake --build --preset dev --target kobrinvert)" >&2; exit 1; }
seconds=${PMX_BENCH_SECONDS:-3600}
rounds=${PMX_BENCH_ROUNDS:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise sine 440 gain -6

# Wall, user+system seconds of one command.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

k_wall=0 k_cpu=0 o_wall=0 o_cpu=0
for ((i = 1; i <= rounds; i++)); do
  read -r w c < <(QT_QPA_PLATFORM=offscreen measure "$program" "$work/in.wav" 0.2 0 0 0)
  echo "kobrinvert run $i: wall ${w}s cpu ${c}s"
  k_wall=$(echo "$k_wall + $w" | bc) k_cpu=$(echo "$k_cpu + $c" | bc)
  read -r w c < <(measure oggenc -Q -q 2 -o "$work/oggenc.ogg" "$work/in.wav")
  echo "oggenc run $i: wall ${w}s cpu ${c}s"
  o_wall=$(echo "$o_wall + $w" | bc) o_cpu=$(echo "$o_cpu + $c" | bc)
done
echo "sizes: kobrinvert $(stat -c %s "$work/in.ogg") bytes, oggenc $(stat -c %s "$work/oggenc.ogg") bytes"
echo "ratio kobrinvert/oggenc: wall $(echo "scale=3; $k_wall / $o_wall" | bc), cpu $(echo "scale=3; $k_cpu / $o_cpu" | bc)"
