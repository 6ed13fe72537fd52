#!/usr/bin/env bash
# mosquill against lame alone on the same WAV (default ten minutes of 44.1 kHz
# stereo) at the same bitrate, taking turns A B B A... so that both see the same
# machine. mosquill finds the WAV's samples, has lame read them from the file
# (a pipe where they do not run to its end) and checks the MP3's length; lame
# alone reads the WAV. Each run prints its wall and CPU (user +
# system, lame's included) seconds and what it encoded (MP3 frames and the
# seconds they hold); then the min/median/max of each and the ratios of the
# medians mosquill / lame.
# PMX_BENCH_PROGRAM: the mosquill to measure (build/dev/bin/mosquill);
# PMX_BENCH_SECONDS: length of the WAV (600); PMX_BENCH_ROUNDS: runs of each (4);
# PMX_BENCH_KBPS: the bitrate (128).
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/support/compare.sh
compare_setup mosquill
kbps=${PMX_BENCH_KBPS:-128}

# "frames seconds" of an MPEG layer III file: its frames, by their headers, and
# the sample frames they decode to over the sample rate.
mp3_length() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
at = 0
if data[:3] == b'ID3':
    at = 10 + (data[6] << 21 | data[7] << 14 | data[8] << 7 | data[9])
frames = samples = 0
while at + 4 <= len(data):
    h = int.from_bytes(data[at:at + 4], 'big')
    if h >> 21 != 0x7FF:
        break
    version = h >> 19 & 3
    kbps = ([0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160] if version != 3 else
            [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320])[h >> 12 & 15]
    rate = [44100, 48000, 32000][h >> 10 & 3] >> {3: 0, 2: 1, 0: 2}[version]
    at += (144000 if version == 3 else 72000) * kbps // rate + (h >> 9 & 1)
    frames += 1
    samples += 1152 if version == 3 else 576
print(frames, "%.2f" % (samples / rate))
PY
}

run() {
  case $1 in
    mosquill) measure "$program" "$work/in.wav" "$kbps" 0 0 0 ;;
    lame) measure lame --quiet -b "$kbps" "$work/in.wav" "$work/lame.mp3" ;;
  esac
}

for ((i = 1; i <= rounds; i++)); do
  for who in $(round_order "$i" mosquill lame); do
    rm -f "$work/in.mp3" "$work/lame.mp3"
    read -r wall cpu < <(run "$who")
    mp3=$work/in.mp3
    [ "$who" = lame ] && mp3=$work/lame.mp3
    read -r frames held < <(mp3_length "$mp3")
    echo "$who run $i: encoded $frames MP3 frames ($held s with lame's delay and padding)," \
      "$(stat -c %s "$mp3") bytes, wall ${wall}s cpu ${cpu}s"
    keep_run "$who" "$wall" "$cpu"
  done
done
summarize mosquill lame
