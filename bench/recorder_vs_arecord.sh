#!/usr/bin/env bash
# The recorder against arecord, both recording the same paced source in real time
# (a PulseAudio null sink pacing an ALSA file plugin, see sound-source.sh) into a
# 44.1 kHz stereo 16-bit WAV. pelmorax runs with its main window on Qt's offscreen
# platform, started with -RECORDSTART and ended with -CLOSE. The two take turns and
# alternate who goes first. Prints each run and the means: CPU seconds (user +
# system) per minute of recording, peak RSS, and the CPU ratio pelmorax / arecord,
# for the whole run and for the steady part of it (from 5 s after the start to 2 s
# before the end, so that start-up and closing are left out).
# Also runs build/dev/bench/qt_frame_floor, an otherwise empty Qt window repainting
# one bar 40 times a second, and prints its steady CPU: the floor under any window
# that shows levels at the displays' 25 ms refresh on this machine.
# PMX_BENCH_SECONDS: length of each recording (60); PMX_BENCH_ROUNDS: runs of each (2).
# Needs pulseaudio; the source costs both sides the same and is not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
program=$root/build/dev/bin/pelmorax
[ -x "$program" ] || { echo "build pelmorax first (cmake --build --preset dev --target pelmorax)" >&2; exit 1; }
floor_program=$root/build/dev/bench/qt_frame_floor
[ -x "$floor_program" ] || { echo "build it first (cmake --build --preset dev --target qt_frame_floor)" >&2; exit 1; }
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

tick_hz=$(getconf CLK_TCK)
steady_from=5
steady_seconds=$((seconds - steady_from - 2))
((steady_seconds > 0)) || { echo "PMX_BENCH_SECONDS must be above 7" >&2; exit 1; }

# User + system clock ticks so far of the program under the runner $1 (the
# background shell, then GNU time, then the program).
ticks() {
  local time_pid program
  time_pid=$(pgrep -P "$1" | head -1)
  program=$(pgrep -P "$time_pid" | head -1)
  awk '{ print $14 + $15 }' "/proc/$program/stat"
}

# Runs a recorder in the background for $seconds (its command: the arguments; a
# closing command in $closer, if any); prints "cpu peak_rss steady_cpu_per_minute".
run_measured() {
  measured "$@" > "$work/measured.out" &
  local runner=$! first last
  sleep "$steady_from"
  first=$(ticks "$runner")
  sleep "$steady_seconds"
  last=$(ticks "$runner")
  sleep 2
  [ -n "$closer" ] && $closer >/dev/null 2>&1
  wait "$runner"
  echo "$(cat "$work/measured.out") $(echo "scale=3; ($last - $first) * 60 / $tick_hz / $steady_seconds" | bc)"
}

run_pelmorax() {
  rm -f "$HOME"/Pelmorax/*.wav
  export PELMORAX_HOME=$work/program QT_QPA_PLATFORM=offscreen
  closer="$program -CLOSE" run_measured "$program" -RECORDSTART
}

run_arecord() {
  closer="" run_measured arecord -q -D default -f S16_LE -c 2 -r 44100 -t wav -d "$seconds" "$work/arecord.wav"
}

run_floor() {
  export QT_QPA_PLATFORM=offscreen
  closer="" run_measured "$floor_program" "$seconds"
}

p_cpu=0 p_rss=0 a_cpu=0 a_rss=0 p_steady=0 a_steady=0 f_steady=0
for ((i = 1; i <= rounds; i++)); do
  order="pelmorax arecord"
  ((i % 2 == 0)) && order="arecord pelmorax"
  for who in $order; do
    sync
    read -r cpu rss steady < <(run_"$who")
    if [ "$who" = pelmorax ] && ! ls "$HOME"/Pelmorax/*.wav >/dev/null 2>&1; then
      echo "pelmorax recorded nothing (see $work/program)" >&2
      exit 1
    fi
    echo "$who run $i: cpu ${cpu}s peak_rss ${rss}KiB steady ${steady} cpu s/min"
    if [ "$who" = pelmorax ]; then
      p_cpu=$(echo "$p_cpu + $cpu" | bc) p_rss=$((rss > p_rss ? rss : p_rss))
      p_steady=$(echo "$p_steady + $steady" | bc)
    else
      a_cpu=$(echo "$a_cpu + $cpu" | bc) a_rss=$((rss > a_rss ? rss : a_rss))
      a_steady=$(echo "$a_steady + $steady" | bc)
    fi
  done
  read -r _ _ steady < <(run_floor)
  echo "qt_frame_floor run $i: steady ${steady} cpu s/min"
  f_steady=$(echo "$f_steady + $steady" | bc)
done
per_minute() { echo "scale=3; $1 * 60 / ($seconds * $rounds)" | bc; }
echo "pelmorax: $(per_minute "$p_cpu") cpu s/min, peak rss ${p_rss} KiB"
echo "arecord:  $(per_minute "$a_cpu") cpu s/min, peak rss ${a_rss} KiB"
echo "ratio pelmorax/arecord cpu: $(echo "scale=2; $p_cpu / $a_cpu" | bc)"
echo "steady: pelmorax $(echo "scale=3; $p_steady / $rounds" | bc) cpu s/min, arecord $(echo "scale=3; $a_steady / $rounds" | bc) cpu s/min, ratio $(echo "scale=2; $p_steady / $a_steady" | bc)"
echo "floor: an empty Qt window at 40 frames/s $(echo "scale=3; $f_steady / $rounds" | bc) cpu s/min, ratio to arecord $(echo "scale=2; $f_steady / $a_steady" | bc)"
