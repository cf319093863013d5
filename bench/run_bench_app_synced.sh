#!/usr/bin/env bash
# Builds the Release tree of the README's benchmarks and runs bench_app_synced on its own X11 display (Xvfb) and
# private session bus. Arguments go to bench_app_synced, e.g.
#   bench/run_bench_app_synced.sh --images 200000
#   bench/run_bench_app_synced.sh --images 200000 --overview       # and the memory of the app started again
#   bench/run_bench_app_synced.sh --images 20000 --per-folder 10 --new 111   # gallery-list walks of one pass
#   bench/run_bench_app_synced.sh --images 800000 --change 3        # one new image at a time once synced: CPU, bytes
#   bench/run_bench_app_synced.sh --images 32000 --per-folder 2       # 16,000 folders of 2 images to synced
#   bench/run_bench_app_synced.sh --app /path/to/other/varnostima   # another build of the app, same bench
# --before PATH runs the bench first on that build of the app, then on this one, on the same tree, e.g.
#   bench/run_bench_app_synced.sh --before /path/to/older/varnostima --images 200000 --restart --start-upload
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_app_synced varnostima >/dev/null
bench() {
  dbus-run-session "--config-file=$root/tests/support/session-bus.conf" -- \
    xvfb-run -a -s "-screen 0 1920x1080x24" "$build/bench/bench_app_synced" "$@"
}
before=""
tree=""
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --before) before="$2"; shift 2 ;;
    --tree) tree="$2"; args+=("$1" "$2"); shift 2 ;;
    *) args+=("$1"); shift ;;
  esac
done
if [ -z "$before" ]; then
  bench "${args[@]}"
  exit
fi
scratch=""
if [ -z "$tree" ]; then
  scratch="$(mktemp -d /tmp/bench_app_synced_tree_XXXXXX)"
  trap 'rm -rf "$scratch"' EXIT
  args+=(--tree "$scratch/Eksport")
fi
echo "== before: $before (load:$(uptime | sed 's/.*load average://'))"
bench --app "$before" "${args[@]}"
echo "== after: this build (load:$(uptime | sed 's/.*load average://'))"
bench "${args[@]}"
