#!/bin/sh
# Runs every fuzz target of a fuzz build (preset "fuzz") for a bounded number of runs,
# starting from its kept inputs in fuzz/corpus/<name>/, and fails when any target crashes,
# leaks, trips a sanitizer or hangs. A crashing input is left in <build>/fuzz-artifacts/;
# once fixed, copy it into fuzz/corpus/<name>/ so that every later run replays it.
#
#   fuzz/run.sh [build-dir] [runs]      (defaults: build/fuzz and 200000)
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/fuzz}
runs=${2:-200000}

if [ ! -d "$build/bin" ]; then
    echo "run.sh: no fuzz build in $build (cmake --preset fuzz && cmake --build --preset fuzz)" >&2
    exit 2
fi

status=0
count=0
for target in "$build"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    count=$((count + 1))
    name=$(basename "$target")
    seeds=$here/corpus/${name#fuzz_}
    artifacts=$build/fuzz-artifacts/$name
    mkdir -p "$artifacts"
    # New inputs go to a scratch corpus; the kept inputs are only read.
    work=$(mktemp -d)
    log=$artifacts/last-run.log
    set -- "$work"
    [ -d "$seeds" ] && set -- "$@" "$seeds"
    printf '%s: %s runs ... ' "$name" "$runs"
    if "$target" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" >"$log" 2>&1; then
        echo "ok ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs)"
    else
        echo "FAILED"
        tail -n 40 "$log"
        ls "$artifacts" | grep -v '^last-run.log$' | sed "s|^|    kept: $artifacts/|"
        status=1
    fi
    rm -rf "$work"
done

if [ "$count" -eq 0 ]; then
    echo "run.sh: no fuzz targets in $build/bin" >&2
    exit 2
fi
exit $status
