#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build (preset "fuzz") side by side for a bounded number of
# runs, starting from its kept inputs in fuzz/corpus/<name>/, and fails when any target
# crashes, leaks, trips a sanitizer or hangs. A crashing input is left in
# <build>/fuzz-artifacts/<target>/; once fixed, copy it into fuzz/corpus/<name>/ so that every
# later run replays it.
#
#   fuzz/run.sh [build-dir] [runs]      (defaults: build/fuzz and 200000)
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/fuzz}
runs=${2:-200000}
targets=$(ls "$build"/bin/fuzz_* 2>/dev/null)
[ -n "$targets" ] || { echo "run.sh: no fuzz targets in $build/bin (cmake --preset fuzz)" >&2; exit 2; }

declare -A pids
for target in $targets; do
    name=$(basename "$target")
    artifacts=$build/fuzz-artifacts/$name
    mkdir -p "$artifacts"
    # New inputs go to a scratch corpus; the kept inputs are only read.
    work=$(mktemp -d)
    (
        "$target" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
            -artifact_prefix="$artifacts/" -print_final_stats=1 "$work" \
            "$here/corpus/${name#fuzz_}" >"$artifacts/last-run.log" 2>&1
        status=$?
        rm -rf "$work"
        exit $status
    ) &
    pids[$name]=$!
done

status=0
for name in "${!pids[@]}"; do
    log=$build/fuzz-artifacts/$name/last-run.log
    if wait "${pids[$name]}"; then
        echo "$name: $runs runs ... ok ($(grep -o 'number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs)"
    else
        echo "$name: $runs runs ... FAILED"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
