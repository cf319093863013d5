#!/bin/sh
# Builds the upload benchmark and the stand-in service it starts, then runs it with the given options.
#   bench/run_bench_upload.sh [bench_upload options, e.g. --files 40 --rounds 5]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="${BUILD_DIR:-$root/build/bench}" # the Release tree of the other benchmarks
command -v curl >/dev/null || { echo "curl is needed: apt-get install -y curl" >&2; exit 2; }
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_upload varnostima-standin >/dev/null
exec "$build/bench/bench_upload" --standin "$build/tests/support/varnostima-standin" "$@"
