#!/usr/bin/env bash
# Builds the release artifacts into dist/:
#   marvanecfgutil-1.0.6-windows-x64.zip  the Windows programs, the user guide, the factory
#                                         settings file and SHA256SUMS
#   marvanecfgutil_1.0.6_amd64.deb        the Linux programs, manual pages and guide
# Installs what it lacks. Two runs from the same commit give the same bytes: every time
# stamp comes from the last commit (SOURCE_DATE_EPOCH) and build paths are mapped away.
#
#   bash scripts/release.sh [--build-root DIR] [--out DIR]
#
# --build-root puts the two release builds in DIR/windows-release and DIR/linux-release
# instead of build/ (the release test builds twice, from scratch, this way).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

build_root=""
out=dist
while [ $# -gt 0 ]; do
    case $1 in
        --build-root) build_root=$2; shift 2 ;;
        --out) out=$2; shift 2 ;;
        *) echo "usage: $0 [--build-root DIR] [--out DIR]" >&2; exit 2 ;;
    esac
done

. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null) || SOURCE_DATE_EPOCH=""
fi
if [ -z "$SOURCE_DATE_EPOCH" ]; then
    # A tree without its history: the newest source file stands for the last commit.
    SOURCE_DATE_EPOCH=$(find . \( -path ./build -o -path ./dist -o -path ./.git \) -prune -o \
        -type f -printf '%T@\n' | sort -n | tail -1 | cut -d. -f1)
    echo "release: no git history; time stamps from the newest source file" >&2
fi
export SOURCE_DATE_EPOCH
# Archive member times are stored in local time; pin the zone so they do not depend on it.
export TZ=UTC LC_ALL=C
umask 022

version=$(sed -n 's/^project(marvanecfgutil VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip_name=marvanecfgutil-$version-windows-x64
deb_name=marvanecfgutil_${version}_amd64.deb

build() {
    local preset=$1
    local dir=${build_root:+$build_root/$preset}
    dir=${dir:-build/$preset}
    cmake --preset "$preset" -B "$dir" >/dev/null
    cmake --build "$dir" -j2 >/dev/null
    echo "$dir"
}

echo "Building the release programs (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
windows_dir=$(build windows-release)
linux_dir=$(build linux-release)

mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out/$zip_name.zip" "$out/$deb_name"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The factory settings file, written by the Windows program itself. A relative name lands
# beside the executable, so the simulator runs from a folder of its own (its state and
# transcript files stay there too).
export WINEPREFIX=${WINEPREFIX:-$source_dir/build/windows/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX" "$work/defaults"
cp "$windows_dir/bin/marvanecfgutil-sim.exe" "$work/defaults/"
(cd "$work/defaults" && wine marvanecfgutil-sim.exe -g VornikMonCfg.ini </dev/null >/dev/null 2>&1) || {
    echo "release: marvanecfgutil-sim.exe -g failed under Wine" >&2
    exit 1
}

# The zip: one folder, files in a fixed order, every time the last commit's, no extra
# (owner, Unix time) fields.
stage=$work/$zip_name
mkdir "$stage"
cp "$windows_dir/bin/marvanecfgutil.exe" "$windows_dir/bin/marvanecfgutil-sim.exe" "$stage/"
sed 's/$/\r/' docs/marvanecfgutil-guide.txt >"$stage/marvanecfgutil-guide.txt"
cp "$work/defaults/VornikMonCfg.ini" "$stage/"
files=(marvanecfgutil.exe marvanecfgutil-sim.exe marvanecfgutil-guide.txt VornikMonCfg.ini)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)
chmod 644 "$stage"/*
chmod 755 "$stage"/*.exe "$stage"
touch -d "@$SOURCE_DATE_EPOCH" "$stage" "$stage"/*
(cd "$work" && zip -X -9 -q "$out/$zip_name.zip" "$zip_name/" "${files[@]/#/$zip_name/}")

# The Debian package, through CPack; its dpkg-shlibdeps run computes Depends, and it takes
# its time stamps from SOURCE_DATE_EPOCH.
cpack --config "$linux_dir/CPackConfig.cmake" -B "$work/cpack" >/dev/null
mv "$work/cpack/$deb_name" "$out/"

echo "Release artifacts in $out:"
(cd "$out" && for f in "$zip_name.zip" "$deb_name"; do
    printf '  %-40s %8d bytes  sha256 %s\n' "$f" "$(stat -c %s "$f")" "$(sha256sum <"$f" | cut -d' ' -f1)"
done)
printf '  (marvanecfgutil.exe: %d bytes)\n' "$(stat -c %s "$windows_dir/bin/marvanecfgutil.exe")"
