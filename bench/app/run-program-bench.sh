#!/usr/bin/env bash
# The program's own costs, measured from /proc: CPU and resident memory of
# `calmcove --headless` while it plays, and CPU and wake-ups of the player paused over
# MPRIS and playing with Position polled each second (app_idle_bench, the runtime as the
# program builds it, on a private session bus; needs dbus-daemon and playerctl). Each output in turn: "pulse"
# through a private PulseAudio server with a null sink (when pulseaudio is installed),
# then "null". Private XDG folders; nothing of the user's is read or written.
# Usage: run-program-bench.sh [build dir]   (CALMCOVE_BENCH_SECONDS, default 60 per figure)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
seconds="${CALMCOVE_BENCH_SECONDS:-60}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
ninja -C "$build" -j2 calmcove calmcove_resources app_idle_bench

work="$(mktemp -d)"
pulse_started=
cleanup() {
  if [ -n "$pulse_started" ]; then pulseaudio --kill 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# A runtime directory of its own too: a Calmcove the user runs there would otherwise take
# over the launch (one instance per user).
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY PULSE_SERVER

outputs="null"
if command -v pulseaudio >/dev/null; then
  pulseaudio -D --exit-idle-time=-1 --system=false -n \
    --load='module-null-sink sink_name=test' \
    --load='module-native-protocol-unix auth-anonymous=1' 2>/dev/null
  pulse_started=1
  for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.1; done
  outputs="pulse null"
else
  echo "pulseaudio is not installed: measuring the null output only"
fi

ticks_per_second="$(getconf CLK_TCK)"
cpu_ticks() { # utime + stime of a process (all its threads)
  local fields
  read -r -a fields < "/proc/$1/stat"
  echo $((fields[13] + fields[14]))
}
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

for output in $outputs; do
  echo "== $output output"
  "$build/bin/calmcove" --headless --audio-output="$output" >"$work/program.log" 2>&1 &
  pid=$!
  sleep 3 # launch, first decode, the stream settling
  if ! kill -0 "$pid" 2>/dev/null || grep -q "playback failed" "$work/program.log"; then
    echo "calmcove did not play:"; cat "$work/program.log"; exit 1
  fi
  before="$(cpu_ticks "$pid")"
  start="$(date +%s.%N)"
  sleep "$seconds"
  after="$(cpu_ticks "$pid")"
  end="$(date +%s.%N)"
  rss="$(status_kb "$pid" VmRSS)"
  hwm="$(status_kb "$pid" VmHWM)"
  kill -TERM "$pid"
  wait "$pid"
  awk -v ticks=$((after - before)) -v hz="$ticks_per_second" -v start="$start" -v end="$end" \
      -v rss="$rss" -v hwm="$hwm" -v output="$output" 'BEGIN {
    wall = end - start
    printf "playing, %s output, %.0f s: %.2f %% of a core (no target; for comparison)\n",
           output, wall, 100 * ticks / hz / wall
    printf "resident memory while playing, %s output: %.1f MB (target < 60 MB) %s; peak %.1f MB\n",
           output, rss / 1024, (rss / 1024 < 60 ? "ok" : "OVER"), hwm / 1024
  }'
  "$build/bin/app_idle_bench" --audio-output="$output" --seconds="$seconds"
done
