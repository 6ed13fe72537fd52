#!/usr/bin/env bash
# The recorder against arecord, both recording the same paced source in real time
# into a 44.1 kHz stereo 16-bit WAV (a PulseAudio null sink paces an ALSA file
# plugin, see sound-source.sh). The PulseAudio server is counted for neither; the
# ALSA plugins it takes (file, pulse) run inside each recorder and count for both.
# pelmorax is started with -RECORDSTART and ended with -CLOSE, in up to three
# modes: headless (Qt's offscreen platform, as a service runs it) and, when an X
# server can be had (Xvfb, with twm and xdotool to minimize), shown and minimized.
# The two take turns A B B A... Each run prints what it recorded (frames,
# seconds), its CPU (user + system) per minute recorded, for the whole run and
# for the steady part (from 5 s after the start to 2 s before the end), and its
# peak RSS; each mode the min/median/max of these, the ratios of the medians and
# the median of each round's own ratio (steadier on a machine whose speed drifts);
# headless also the median peak RSS against its goal.
# Last, qt_frame_floor's steady CPU: an otherwise empty Qt window repainting one
# bar 40 times a second, the floor under a window that shows levels.
# PMX_BENCH_PROGRAM: the pelmorax to measure (build/dev/bin/pelmorax);
# PMX_BENCH_SECONDS: length of each recording (60); PMX_BENCH_ROUNDS: runs of
# each (4); PMX_BENCH_MODES: the modes wanted (headless shown minimized).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
. bench/support/compare.sh
program=${PMX_BENCH_PROGRAM:-$root/build/dev/bin/pelmorax}
[ -x "$program" ] || { echo "build pelmorax first (cmake --build --preset dev --target pelmorax)" >&2; exit 1; }
floor_program=$root/build/dev/bench/qt_frame_floor
[ -x "$floor_program" ] || { echo "build it first (cmake --build --preset dev --target qt_frame_floor)" >&2; exit 1; }
source_tool=${PMX_SOUND_SOURCE:-$root/../shared/tools/sound-source.sh}
seconds=${PMX_BENCH_SECONDS:-60}
rounds=${PMX_BENCH_ROUNDS:-4}
modes=${PMX_BENCH_MODES:-headless shown minimized}

eval "$("$source_tool" start)"
work=$(mktemp -d)
x_pids=()
cleanup() {
  for pid in "${x_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$source_tool" stop
  rm -rf "$work"
}
trap cleanup EXIT
# A settings folder of its own: the recorder writes its first-start options there
# (WAV, 44.1 kHz stereo 16-bit from ALSA's "default", recordings in $HOME/Pelmorax,
# started and stopped by hand).
mkdir -p "$work/program"

# An X server for the shown and minimized modes, with a window manager that can
# minimize; without them those modes are left out.
x_display=
if [[ $modes != headless ]] && command -v Xvfb >/dev/null && command -v twm >/dev/null && command -v xdotool >/dev/null; then
  x_display=:$((90 + RANDOM % 100))
  Xvfb "$x_display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  x_pids+=($!)
  for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${x_display#:}" ] && break; sleep 0.1; done
  # The X core font every server has, where twm would look for others.
  printf '%s "fixed"\n' TitleFont ResizeFont MenuFont IconFont IconManagerFont > "$work/twmrc"
  DISPLAY=$x_display twm -f "$work/twmrc" >/dev/null 2>&1 &
  x_pids+=($!)
elif [[ $modes != headless ]]; then
  echo "no Xvfb, twm and xdotool: headless only" >&2
  modes=headless
fi

tick_hz=$(getconf CLK_TCK)
steady_from=5
steady_seconds=$((seconds - steady_from - 2))
((steady_seconds > 0)) || { echo "PMX_BENCH_SECONDS must be above 7" >&2; exit 1; }

# User + system clock ticks so far of the program under the runner $1 (the
# background shell, then GNU time, then the program).
ticks() {
  local time_pid
  time_pid=$(pgrep -P "$1" | head -1)
  awk '{ print $14 + $15 }' "/proc/$(pgrep -P "$time_pid" | head -1)/stat"
}

# Runs a recorder in the background for $seconds (its command: the arguments; a
# command after the start in $after, a closing one in $closer, if any); prints
# "cpu_seconds peak_rss_kib steady_cpu_seconds_per_minute". The CPU comes from
# the shell's time, to the millisecond; GNU time, in between, gives the peak RSS.
run_measured() {
  (
    TIMEFORMAT='%3U %3S'
    time /usr/bin/time -f '%M' -o "$work/rss" "$@" >/dev/null 2>&1
  ) 2> "$work/cpu" &
  local runner=$! first last
  [ -n "$after" ] && $after >/dev/null 2>&1
  sleep "$steady_from"
  first=$(ticks "$runner")
  sleep "$steady_seconds"
  last=$(ticks "$runner")
  sleep 2
  [ -n "$closer" ] && $closer >/dev/null 2>&1
  wait "$runner" || true
  awk -v t="$((last - first))" -v hz="$tick_hz" -v s="$steady_seconds" -v rss="$(cat "$work/rss")" \
    '{ printf "%.3f %d %.3f\n", $1 + $2, rss, t * 60 / hz / s }' "$work/cpu"
}

minimize() { DISPLAY=$x_display xdotool search --sync --onlyvisible --name '^Pelmorax' windowminimize; }

# Prints "cpu peak_rss steady frames seconds" of one run of $1 in mode $2.
run() {
  local who=$1 mode=$2 measured
  if [ "$who" = arecord ]; then
    rm -f "$work/arecord.wav"
    measured=$(after="" closer="" run_measured \
      arecord -q -D default -f S16_LE -c 2 -r 44100 -t wav -d "$seconds" "$work/arecord.wav")
    echo "$measured $(wav_length "$work/arecord.wav")"
    return
  fi
  rm -f "$HOME"/Pelmorax/*.wav
  local after=""
  if [ "$mode" = headless ]; then
    export QT_QPA_PLATFORM=offscreen
    unset DISPLAY
  else
    export QT_QPA_PLATFORM=xcb DISPLAY=$x_display
    [ "$mode" = minimized ] && after=minimize
  fi
  measured=$(PELMORAX_HOME=$work/program after=$after closer="$program -CLOSE" run_measured "$program" -RECORDSTART)
  unset QT_QPA_PLATFORM DISPLAY
  ls "$HOME"/Pelmorax/*.wav >/dev/null 2>&1 || { echo "pelmorax recorded nothing (see $work/program)" >&2; exit 1; }
  echo "$measured $(wav_length "$HOME"/Pelmorax/*.wav)"
}

for mode in $modes; do
  for ((i = 1; i <= rounds; i++)); do
    for who in $(round_order "$i" pelmorax arecord); do
      sync
      read -r cpu rss steady frames recorded < <(run "$who" "$mode")
      per_minute=$(awk -v c="$cpu" -v s="$recorded" 'BEGIN { printf "%.3f", (s > 0 ? c * 60 / s : 0) }')
      echo "$mode $who run $i: recorded $frames frames ($recorded s), cpu ${cpu}s = $per_minute s/min," \
        "steady $steady s/min, peak rss ${rss} KiB"
      echo "$per_minute" >> "$work/$mode.$who.cpu"
      echo "$steady" >> "$work/$mode.$who.steady"
      echo "$rss" >> "$work/$mode.$who.rss"
    done
  done
  for who in pelmorax arecord; do
    echo "$mode $who min/median/max: cpu $(spread < "$work/$mode.$who.cpu") s/min," \
      "steady $(spread < "$work/$mode.$who.steady") s/min, peak rss $(spread < "$work/$mode.$who.rss") KiB"
  done
  echo "$mode ratio of medians pelmorax/arecord: cpu" \
    "$(ratio "$(median < "$work/$mode.pelmorax.cpu")" "$(median < "$work/$mode.arecord.cpu")"), steady" \
    "$(ratio "$(median < "$work/$mode.pelmorax.steady")" "$(median < "$work/$mode.arecord.steady")")"
  echo "$mode median of the rounds' ratios pelmorax/arecord: cpu" \
    "$(round_ratio "$work/$mode.pelmorax.cpu" "$work/$mode.arecord.cpu"), steady" \
    "$(round_ratio "$work/$mode.pelmorax.steady" "$work/$mode.arecord.steady")"
  if [ "$mode" = headless ]; then
    rss_median=$(median < "$work/headless.pelmorax.rss")
    echo "headless pelmorax peak rss median ${rss_median} KiB: goal at most 30000 KiB" \
      "$(awk -v m="$rss_median" 'BEGIN { print (m <= 30000 ? "met" : "missed") }')"
  fi
done

read -r _ _ steady < <(QT_QPA_PLATFORM=offscreen after="" closer="" run_measured "$floor_program" "$seconds")
echo "floor: an empty Qt window at 40 frames/s, steady $steady cpu s/min"
