#!/usr/bin/env bash
# The recorder against arecord, both recording the same paced source in real time
# (a PulseAudio null sink pacing an ALSA file plugin, see sound-source.sh) into a
# 44.1 kHz stereo 16-bit WAV. pelmorax runs with its main window on Qt's offscreen
# platform, started with -RECORDSTART and ended with -CLOSE. The two take turns and
# alternate who goes first. Prints each run and the means: CPU seconds (user +
# system) per minute of recording, peak RSS, and the CPU ratio pelmorax / arecord.
# PMX_BENCH_SECONDS: length of each recording (60); PMX_BENCH_ROUNDS: runs of each (2).
# Needs pulseaudio; the source costs both sides the same and is not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
program=$root/build/dev/bin/pelmorax
[ -x "$program" ] || { echo "build pelmorax first (cmake --build --preset dev --target pelmorax)" >&2; exit 1; }
source_tool=${PMX_SOUND_SOURCE:-/work/shared/tools/sound-source.sh}
seconds=${PMX_BENCH_SECONDS:-60}
rounds=${PMX_BENCH_ROUNDS:-2}

eval "$("$source_tool" start)"
work=$(mktemp -d)
trap '"$source_tool" stop; rm -rf "$work"' EXIT
# A settings folder of its own: the recorder writes its first-start options there
# (WAV, 44.1 kHz stereo 16-bit from ALSA's "default", recordings in $HOME/Pelmorax,
# started and stopped by hand).
mkdir -p "$work/program"

# "cpu_seconds peak_rss_kib" of a command run under GNU time.
measured() {
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%.3f %d\n", $1 + $2, $3 }' "$work/time"
}

run_pelmorax() {
  rm -f "$HOME"/Pelmorax/*.wav
  export PELMORAX_HOME=$work/program QT_QPA_PLATFORM=offscreen
  measured "$program" -RECORDSTART > "$work/pelmorax.out" &
  local runner=$!
  sleep "$seconds"
  "$program" -CLOSE >/dev/null 2>&1
  wait "$runner"
  cat "$work/pelmorax.out"
}

run_arecord() {
  measured arecord -q -D default -f S16_LE -c 2 -r 44100 -t wav -d "$seconds" "$work/arecord.wav"
}

p_cpu=0 p_rss=0 a_cpu=0 a_rss=0
for ((i = 1; i <= rounds; i++)); do
  order="pelmorax arecord"
  ((i % 2 == 0)) && order="arecord pelmorax"
  for who in $order; do
    sync
    read -r cpu rss < <(run_"$who")
    if [ "$who" = pelmorax ] && ! ls "$HOME"/Pelmorax/*.wav >/dev/null 2>&1; then
      echo "pelmorax recorded nothing (see $work/program)" >&2
      exit 1
    fi
    echo "$who run $i: cpu ${cpu}s peak_rss ${rss}KiB"
    if [ "$who" = pelmorax ]; then
      p_cpu=$(echo "$p_cpu + $cpu" | bc) p_rss=$((rss > p_rss ? rss : p_rss))
    else
      a_cpu=$(echo "$a_cpu + $cpu" | bc) a_rss=$((rss > a_rss ? rss : a_rss))
    fi
  done
done
per_minute() { echo "scale=3; $1 * 60 / ($seconds * $rounds)" | bc; }
echo "pelmorax: $(per_minute "$p_cpu") cpu s/min, peak rss ${p_rss} KiB"
echo "arecord:  $(per_minute "$a_cpu") cpu s/min, peak rss ${a_rss} KiB"
echo "ratio pelmorax/arecord cpu: $(echo "scale=2; $p_cpu / $a_cpu" | bc)"
