#!/usr/bin/env bash
# Builds and runs the downloader benchmark: the parallel download against a single
# connection and `aria2c -x6 -s6 -k2M` through a server that paces every connection, and
# against `curl` on unthrottled loopback, all on the same 50 MB file.
# Usage: run-downloader-bench.sh [build dir] [megabytes] [bytes per second per connection]
#        [unpaced runs]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift || true
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja
fi
ninja -C "$build" -j2 downloader_bench
exec "$build/bin/downloader_bench" "$@"
