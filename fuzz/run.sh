#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build (preset "fuzz") for a bounded number of runs,
# starting from its kept inputs in fuzz/corpus/<name>/, and fails when any target crashes,
# leaks, trips a sanitizer or hangs. A crashing input is left in <build>/fuzz-artifacts/;
# once fixed, copy it into fuzz/corpus/<name>/ so that every later run replays it.
# Targets run side by side, as many at a time as there are processors, since each uses one.
#
#   fuzz/run.sh [build-dir] [runs]      (defaults: build/fuzz and 200000)
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/fuzz}
runs=${2:-200000}
jobs=$(nproc 2>/dev/null || echo 1)

if [ ! -d "$build/bin" ]; then
    echo "run.sh: no fuzz build in $build (cmake --preset fuzz && cmake --build --preset fuzz)" >&2
    exit 2
fi

# One target; its verdict goes to <artifacts>/verdict, its report to the log beside it.
fuzz_one() {
    target=$1
    name=$(basename "$target")
    seeds=$here/corpus/${name#fuzz_}
    artifacts=$build/fuzz-artifacts/$name
    mkdir -p "$artifacts"
    # New inputs go to a scratch corpus; the kept inputs are only read.
    work=$(mktemp -d)
    log=$artifacts/last-run.log
    set -- "$work"
    [ -d "$seeds" ] && set -- "$@" "$seeds"
    if "$target" -runs="$runs" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
        -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" >"$log" 2>&1; then
        echo "ok ($(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') inputs)" \
            >"$artifacts/verdict"
    else
        echo "FAILED" >"$artifacts/verdict"
    fi
    rm -rf "$work"
}

count=0
for target in "$build"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    count=$((count + 1))
    rm -f "$build/fuzz-artifacts/$(basename "$target")/verdict"
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n
    done
    fuzz_one "$target" &
done
wait

if [ "$count" -eq 0 ]; then
    echo "run.sh: no fuzz targets in $build/bin" >&2
    exit 2
fi

status=0
for target in "$build"/bin/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    artifacts=$build/fuzz-artifacts/$name
    verdict=$(cat "$artifacts/verdict" 2>/dev/null || echo "FAILED (no verdict)")
    echo "$name: $runs runs ... $verdict"
    case "$verdict" in
        ok*) ;;
        *)
            tail -n 40 "$artifacts/last-run.log"
            ls "$artifacts" | grep -v -E '^(last-run.log|verdict)$' | sed "s|^|    kept: $artifacts/|"
            status=1
            ;;
    esac
done
exit $status
