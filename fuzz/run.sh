#!/usr/bin/env bash
# Runs every fuzz target side by side from its kept inputs in fuzz/corpus/<name>/; fails on a
# crash, leak, sanitizer report or hang. Crashing inputs land in <build>/fuzz-artifacts/<target>/
# (copy them into the corpus once fixed).  Usage: fuzz/run.sh [build-dir] [runs]
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
    work=$(mktemp -d)  # new inputs go here; the kept corpus is only read
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
