#!/usr/bin/env bash
# Builds and runs the sound-chain benchmark: CPU per second of audio for every mood preset,
# next to ffmpeg's equivalent filter chain.  Usage: run-engine-bench.sh [build dir] [audio file]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
ninja -C "$build" -j2 playback_engine_bench
exec "$build/bin/playback_engine_bench" "$@"
