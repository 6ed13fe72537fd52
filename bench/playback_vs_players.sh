#!/usr/bin/env bash
# CPU to play one hour (PMX_BENCH_SECONDS) of a WAV, an Ogg Vorbis and an MP3
# recording into ALSA's null PCM as the recorder plays them, against aplay,
# ogg123 and mpg123 playing the same files into the same PCM. The contestants
# alternate (ours, theirs, theirs, ours, ...) after one warm-up run of each, so
# neither gains from a cold cache or a quiet moment. Prints every run with what
# it played, then min / median / max of each and the ratio of the medians (the
# goal is 1.3 at most for WAV).
# The null PCM takes every buffer at once, so wall time shows decoding speed too.
# PMX_BENCH_ROUNDS: rounds of each pair (4 at least); PMX_BENCH_KINDS: some of
# "wav ogg mp3" (all three).
set -euo pipefail
cd "$(dirname "$0")/.."
player=build/dev/bench/playback_player
[ -x "$player" ] || { echo "build it first (cmake --build --preset dev --target playback_player)" >&2; exit 1; }
for tool in sox oggenc lame aplay ogg123 mpg123; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
seconds=${PMX_BENCH_SECONDS:-3600}
rounds=${PMX_BENCH_ROUNDS:-4}
kinds=${PMX_BENCH_KINDS:-wav ogg mp3}
[ "$rounds" -ge 4 ] || rounds=4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 "$work/in.wav" synth "$seconds" pinknoise sine 440 gain -6
case " $kinds " in *" ogg "*) oggenc -Q -q 2 -o "$work/in.ogg" "$work/in.wav" ;; esac
case " $kinds " in *" mp3 "*) lame -S -b 128 "$work/in.wav" "$work/in.mp3" 2>/dev/null ;; esac
frames=$(soxi -s "$work/in.wav")

# "wall cpu" seconds of one command, whose output goes to $work/said and exit
# status to $work/status.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time { "$@" >"$work/said" 2>&1; echo $? >"$work/status"; }; } 2>&1 | awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }'
}

# min median max of the numbers on stdin.
spread() {
  sort -g | awk '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "%.2f %.2f %.2f\n", v[1], m, v[NR] }'
}

compare() {  # kind, their command...
  local kind=$1 w c name
  shift
  local -a ours=("$player" "$work/in.$kind" null 0) theirs=("$@")
  measure "${ours[@]}" >/dev/null
  measure "${theirs[@]}" >/dev/null
  : >"$work/ours.cpu"
  : >"$work/theirs.cpu"
  for ((i = 1; i <= rounds; i++)); do
    local order=(ours theirs)
    ((i % 2 == 0)) && order=(theirs ours)
    for who in "${order[@]}"; do
      if [ "$who" = ours ]; then
        read -r w c < <(measure "${ours[@]}")
        name=ours
        # The player says what it played: "ms M of N" or "bytes B of N".
        echo "$kind ours run $i: wall ${w}s cpu ${c}s, played $(head -1 "$work/said")"
      else
        read -r w c < <(measure "${theirs[@]}")
        name=$1
        echo "$kind $1 run $i: wall ${w}s cpu ${c}s, played the file (${seconds} s, ${frames} frames), exit status $(cat "$work/status")"
      fi
      echo "$c" >>"$work/$who.cpu"
    done
  done
  read -r omin omed omax < <(spread <"$work/ours.cpu")
  read -r tmin tmed tmax < <(spread <"$work/theirs.cpu")
  echo "$kind cpu s ours min/median/max $omin/$omed/$omax, $1 $tmin/$tmed/$tmax"
  echo "$kind cpu ratio of medians ours / $1: $(awk -v o="$omed" -v t="$tmed" 'BEGIN { printf "%.2f", o / t }')"
}

echo "each run plays ${seconds} s (${frames} frames at 44.1 kHz stereo 16-bit), $rounds rounds"
for kind in $kinds; do
  case $kind in
    wav) compare wav aplay -q -D null "$work/in.wav" ;;
    ogg) compare ogg ogg123 -q -d alsa -o dev:null "$work/in.ogg" ;;
    mp3) compare mp3 mpg123 -q -o alsa -a null "$work/in.mp3" ;;
  esac
done
