#!/usr/bin/env bash
# WAV playback through ALSA's pulse plugin, the "default" device of a desktop: a
# private PulseAudio server plays into a pipe sink, which keeps what was heard.
# A recording whose frames are all different is paused and played on, played
# again after its end, chosen again and played, and played from the slider's
# start; what was heard must be the recording four times, each frame once and in
# order (but for the 1 ms ramps at the ends of each run).
#   tests/pulse_playback.sh PLAYBACK_SESSION   (exits 77, skipped, without pulseaudio)
set -euo pipefail
session=${1:?usage: $0 path/to/playback_session}
for tool in pulseaudio pactl perl; do
  command -v "$tool" >/dev/null || { echo "skipped: needs $tool"; exit 77; }
done
work=$(mktemp -d)
cleanup() {
  [ -f "$work/pulse.pid" ] && kill "$(cat "$work/pulse.pid")" 2>/dev/null || true
  [ -f "$work/cat.pid" ] && kill "$(cat "$work/cat.pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home" "$work/run"
chmod 700 "$work/run"
export HOME=$work/home XDG_RUNTIME_DIR=$work/run PULSE_SERVER=unix:$work/pulse.sock

frames=$((44100 * 3))
# A WAV of 44.1 kHz stereo 16-bit frames: frame c is L = c & 0xffff, R = ((c >> 16) + L * 0x9E37) & 0xffff.
perl -e '
  my $n = shift; my $data = "";
  for my $c (0 .. $n - 1) { my $l = $c & 0xffff; $data .= pack("v2", $l, (($c >> 16) + $l * 0x9E37) & 0xffff) }
  print "RIFF", pack("V", 36 + length $data), "WAVEfmt ", pack("VvvVVvv", 16, 1, 2, 44100, 176400, 4, 16),
        "data", pack("V", length $data), $data' "$frames" > "$work/20260307090503.wav"

printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' "$work/pulse.sock" > "$work/pulse.pa"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes -F "$work/pulse.pa" \
  > "$work/pulse.log" 2>&1 < /dev/null &
echo $! > "$work/pulse.pid"
for _ in $(seq 50); do [ -S "$work/pulse.sock" ] && break; sleep 0.1; done
mkfifo "$work/heard.fifo"
cat "$work/heard.fifo" > "$work/heard.raw" &
echo $! > "$work/cat.pid"
pactl load-module module-pipe-sink sink_name=heard file="$work/heard.fifo" format=s16le rate=44100 channels=2 \
  use_system_clock_for_timing=yes > /dev/null
cat > "$HOME/.asoundrc" <<RC
pcm.!default { type pulse; server "unix:$work/pulse.sock"; device "heard" }
RC

"$session" "$work/20260307090503.wav" default play wait:1000 pause wait:1000 play wait:500 pause wait:700 play end \
  wait:1000 play end reload play end seek:0 play end
# The pipe sink writes in real time: wait until the last run has reached the file.
sleep 1

perl -e '
  $| = 1; my ($file, $n, $passes) = @ARGV; my $ramp = 44;
  open my $f, "<:raw", $file or die; local $/; my @v = unpack("v*", <$f>);
  my @runs; my $prev = -2;
  for (my $i = 0; $i + 1 < @v; $i += 2) {
    my ($l, $r) = ($v[$i], $v[$i + 1]);
    next if $l == 0 && $r == 0;  # silence: before, between and after the runs, and paused
    my $c = ((($r - $l * 0x9E37) & 0xffff) << 16) | $l;
    if ($c == $prev + 1) { $runs[-1][1] = $c } else { push @runs, [$c, $c] }
    $prev = $c;
  }
  my @long = grep { $_->[1] - $_->[0] > 100 } @runs;
  my $stray = 0; $stray += $_->[1] - $_->[0] + 1 for grep { $_->[1] - $_->[0] <= 100 } @runs;
  printf "heard frames %d..%d\n", @$_ for @long;
  my $whole = grep { $_->[0] <= $ramp && $_->[1] >= $n - $ramp - 1 } @long;
  die "expected $passes whole passes and nothing else, heard " . scalar(@long) . " runs ($whole whole)\n"
    unless @long == $passes && $whole == $passes;
  die "$stray frames heard outside the passes\n" if $stray > $passes * 2 * $ramp;
  print "ok: $passes passes, each frame once and in order\n";
' "$work/heard.raw" "$frames" 4
