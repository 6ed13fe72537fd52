# Sourced by the whole-program comparisons: two contestants take turns A B, B A,
# A B, B A... so that both see the same machine, and each is summed up by the
# minimum, median and maximum of its runs.

# The contestants of round $1 (from 1) in the order they run: $2 $3 or $3 $2.
round_order() {
  if (($1 % 2 == 1)); then echo "$2 $3"; else echo "$3 $2"; fi
}

# "min median max" of the numbers on standard input.
spread() {
  sort -g | awk '{ v[NR] = $1 }
    END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.6g %.6g %.6g\n", v[1], m, v[NR] }'
}

# The median of the numbers on standard input.
median() { spread | awk '{ print $2 }'; }

# $1 / $2 to two places.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f\n", (b > 0 ? a / b : 0) }'; }

# The median of the rounds' own ratios, line by line $1 / $2 (two files of one
# number per round): the two runs of a round follow each other, so a machine
# whose speed drifts between rounds moves both.
round_ratio() {
  paste "$1" "$2" | awk '$2 > 0 { print $1 / $2 }' | median | awk '{ printf "%.2f\n", $1 }'
}

# Sample frames and seconds in the data chunks of the WAV files given (16-bit,
# channels from each header): "frames seconds".
wav_length() {
  python3 - "$@" <<'PY'
import struct, sys
frames = seconds = 0
for name in sys.argv[1:]:
    data = open(name, 'rb').read()
    channels, rate = struct.unpack_from('<HI', data, 22)
    bits = struct.unpack_from('<H', data, 34)[0]
    at = data.find(b'data', 12)
    n = (len(data) - at - 8) // (channels * bits // 8)  # what is there, whatever the header says
    frames += n
    seconds += n / rate
print(frames, "%.2f" % seconds)
PY
}

# Sets program (PMX_BENCH_PROGRAM, else the dev build of $1, which must be there),
# seconds (PMX_BENCH_SECONDS, 600), rounds (PMX_BENCH_ROUNDS, 4) and work: a
# folder removed on exit, holding in.wav, $seconds of noise and a tone in 44.1 kHz
# 16-bit stereo.
compare_setup() {
  program=${PMX_BENCH_PROGRAM:-build/dev/bin/$1}
  [ -x "$program" ] || { echo "build $1 first (cmake --build --preset dev --target $1)" >&2; exit 1; }
  seconds=${PMX_BENCH_SECONDS:-600}
  rounds=${PMX_BENCH_ROUNDS:-4}
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise sine 440 gain -6
  echo "input: $(wav_length "$work/in.wav" | awk '{ print $1 " frames, " $2 " s" }')"
}

# Wall, user+system seconds of one command and its children.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

# Keeps the wall ($2) and CPU ($3) seconds of one run of contestant $1.
keep_run() {
  echo "$2" >> "$work/$1.wall"
  echo "$3" >> "$work/$1.cpu"
}

# The min/median/max of the kept runs of $1 and $2, then the ratios of their medians $1 / $2.
summarize() {
  for who in "$1" "$2"; do
    echo "$who min/median/max: wall $(spread < "$work/$who.wall") s, cpu $(spread < "$work/$who.cpu") s"
  done
  echo "ratio of medians $1/$2: wall $(ratio "$(median < "$work/$1.wall")" "$(median < "$work/$2.wall")")," \
    "cpu $(ratio "$(median < "$work/$1.cpu")" "$(median < "$work/$2.cpu")")"
}
