#!/usr/bin/env bash
# Installs what is missing, builds every build and runs every test: native, with
# AddressSanitizer and UBSan, the Windows build under Wine, a bounded fuzzing run, and the
# release artifacts (built twice to prove them reproducible, then unpacked and run).
# Exits non-zero when anything fails to build or any test fails.
set -u
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}" \
    "${RELEASE_PACKAGES[@]}" || exit 1

failed=()
step() {
    local name=$1
    shift
    echo "=== $name"
    local started=$SECONDS
    if ! "$@"; then
        failed+=("$name")
    fi
    echo "=== $name: $((SECONDS - started)) s"
}

# Builds a native preset and runs its tests. With target names, only those are built and
# only the emulated-device tests run (every other test runs in the sanitizer build).
native() {
    local preset=$1
    shift
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 "${targets[@]}" || return 1
    local result=0
    if [ $# -eq 0 ]; then
        ctest --preset "$preset" -j2 -LE '^bed' || result=1
    fi
    # The Linux program on emulated devices (tests/linux): the harness runs each program
    # under the umockdev preload. Its cases mostly wait in real time (the program's pauses
    # and time-outs), so more of them run at once.
    ctest --preset "$preset" -j8 -L '^bed$' || result=1
    return $result
}

windows() {
    cmake --preset windows >/dev/null && cmake --build --preset windows -j2 || return 1
    # One persistent wineserver for the whole run, detached from our pipes, so that
    # every test does not pay Wine's start-up and ctest does not wait on inherited pipes.
    export WINEPREFIX="$PWD/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$WINEPREFIX"
    wineserver -p </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1
    ctest --preset windows -j2
    local result=$?
    wineserver -k </dev/null >/dev/null 2>&1
    return $result
}

# The Windows program end to end through Wine's own HID stack on the emulated devices: needs
# the native bed and the Windows build, so it runs after both are built.
windows_on_bed() {
    [ -x build/linux/bin/bed_wine_tests ] || { echo "native build missing"; return 1; }
    ctest --preset linux -j4 -L '^bed-wine$'
}

fuzz() {
    cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 && bash fuzz/run.sh build/fuzz 100000
}

# The optimised build serves the emulated-device tests (the Linux program as shipped, and the
# comparisons under Wine); the sanitizer build runs every native test.
step "native tests (emulated devices)" native linux marvanecfgutil marvanecfgutil-sim \
    lock_holder bed_tests bed_wine_tests
step "sanitizer tests" native linux-asan
step "windows tests (wine)" windows
step "windows walks on the bed (wine)" windows_on_bed
step "fuzzing" fuzz
step "release" bash tests/release/release_test.sh

if [ ${#failed[@]} -ne 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All builds and tests passed."
