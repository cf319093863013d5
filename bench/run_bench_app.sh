#!/usr/bin/env bash
# Builds the Release tree of the README's benchmarks and runs bench_app on its own X11 display (Xvfb) and private
# session bus. Arguments go to bench_app.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_app varnostima
exec dbus-run-session "--config-file=$root/tests/support/session-bus.conf" -- \
  xvfb-run -a -s "-screen 0 1920x1080x24" "$build/bench/bench_app" "$@"
