#!/usr/bin/env bash
# Benchmark, not a test: the cost of `marvanecfgutil -L` per monitor on emulated machines of
# 2 and 49 monitors (umockdev emulates at most 50 open descriptors: see bed_bench.cpp).
# Usage: tests/linux/bed_bench.sh [build dir, default build/linux] [runs] [monitors]
set -eu
cd "$(dirname "$0")/../.."
build=${1:-build/linux}
cmake --build "$build" --target bed_bench marvanecfgutil >/dev/null
exec "$build/bin/bed_bench" "${2:-5}" "${3:-49}"
