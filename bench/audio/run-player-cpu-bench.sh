#!/usr/bin/env bash
# CPU of Calmcove and the sound server while playing, next to mpv and Audacious
# (audio_player_cpu_bench). Installs mpv and audacious with apt-get when they are missing:
# they are this benchmark's yardsticks, not dependencies of Calmcove.
# Usage: run-player-cpu-bench.sh [seconds per player] [build dir]   (default 60, build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build}"
missing=()
for program in mpv audacious; do
  command -v "$program" >/dev/null || missing+=("$program")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
ninja -C "$build" -j2 calmcove calmcove_resources audio_player_cpu_bench
"$build/bin/audio_player_cpu_bench" "$seconds"
