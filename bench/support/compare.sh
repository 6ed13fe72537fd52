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
