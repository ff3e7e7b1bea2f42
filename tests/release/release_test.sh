#!/usr/bin/env bash
# Two release builds give the same bytes; the zip and the Debian package hold what users get
# and their programs print the help and the guide's session.  Usage: release_test.sh [--once]
set -u
runs="a b"
[ "${1:-}" = "--once" ] && runs="a"
cd "$(dirname "$0")/../.." || exit 1
source_dir=$PWD
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

tmp=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$source_dir/build/windows/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
trap 'wineserver -k </dev/null >/dev/null 2>&1; rm -rf "$tmp"' EXIT

version=$(sed -n 's/^project(marvanecfgutil VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip_name=marvanecfgutil-$version-windows-x64
deb_name=marvanecfgutil_${version}_amd64.deb
help=$source_dir/tests/data/app/help.txt

for run in $runs; do
    start=$SECONDS
    bash scripts/release.sh --build-root "$tmp/$run" --out "$tmp/$run/dist" >"$tmp/$run.log" 2>&1 ||
        { cat "$tmp/$run.log"; echo "FAIL: release run $run"; exit 1; }
    echo "release run $run: $((SECONDS - start)) s"
done
cat "$tmp/a.log"
for artifact in "$zip_name.zip" "$deb_name"; do
    [ "$runs" = "a" ] && echo "SKIP: built once; reproducibility not checked" && break
    check "$artifact is byte-identical in both runs" cmp -s "$tmp/a/dist/$artifact" "$tmp/b/dist/$artifact"
done
dist=$tmp/a/dist

# expect_run WHAT STATUS EXPECTED-FILE DIR COMMAND...: status and output, ignoring CRs and
# trailing blank lines.
trim() { sed 's/\r$//' "$1" | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'; }
expect_run() {
    local what=$1 status=$2 expected=$3 dir=$4 result
    shift 4
    (cd "$dir" && "$@") </dev/null >"$tmp/actual.txt" 2>&1
    result=$?
    trim "$expected" >"$tmp/expected.trimmed"
    trim "$tmp/actual.txt" >"$tmp/actual.trimmed"
    if [ "$result" -ne "$status" ]; then
        fail "$what: exit status $result, expected $status"
    elif ! diff -u "$tmp/expected.trimmed" "$tmp/actual.trimmed" >"$tmp/diff.txt"; then
        fail "$what: output differs"
        head -40 "$tmp/diff.txt"
    else
        echo "ok: $what"
    fi
}

# --- The zip.
unzip -q "$dist/$zip_name.zip" -d "$tmp/zip"
zipdir=$tmp/zip/$zip_name
exe=$zipdir/marvanecfgutil.exe
listing=$(unzip -Z1 "$dist/$zip_name.zip" | tr '\n' ' ')
check "zip holds the five files: $listing" [ "$listing" = "$zip_name/ $zip_name/marvanecfgutil.exe $zip_name/marvanecfgutil-sim.exe $zip_name/marvanecfgutil-guide.txt $zip_name/VornikMonCfg.ini $zip_name/SHA256SUMS " ]
check "SHA256SUMS verifies" bash -c "cd '$zipdir' && sha256sum --quiet -c SHA256SUMS"
check "marvanecfgutil.exe is $(stat -c %s "$exe") bytes, under 1 MiB" [ "$(stat -c %s "$exe")" -lt 1048576 ]
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
check "no link time stamp" grep -q "^Time/Date.*1970" <<<"$headers"
check "exe needs no MinGW runtime DLLs" bash -c "! grep 'DLL Name' | grep -qiE 'libstdc|libgcc|winpthread'" <<<"$headers"
check "exe is stripped" bash -c "! x86_64-w64-mingw32-objdump -h '$exe' | grep -qE '\.debug|\.stab'"
check "version resource" bash -c "strings -el '$exe' | grep -qx 'Marvane Configuration utility'"
check "manifest" grep -q "requestedExecutionLevel" "$exe"
guide=$zipdir/marvanecfgutil-guide.txt
check "guide has CRLF line ends" bash -c "[ \$(grep -c $'\r\$' '$guide') -eq \$(wc -l <'$guide') ] &&
    sed 's/\r\$//' '$guide' | cmp -s - docs/marvanecfgutil-guide.txt"

# Under Wine: the help text, and the session of the guide's last section ("  > command"
# lines, each followed by its output) with the simulated monitors.
wineserver -p </dev/null >/dev/null 2>&1
expect_run "zip marvanecfgutil.exe -? under Wine" 1 "$help" "$tmp" wine "$exe" -?
session=$tmp/session
mkdir "$session"
cp "$zipdir/marvanecfgutil-sim.exe" "$session/"
awk -v dir="$session" '
    /^6\. Trying it without a monitor/ { inside = 1; next }
    !inside { next }
    /^  > / { n++; print substr($0, 5) > (dir "/cmd" n); printf "" > (dir "/out" n); next }
    n && /^  / { print substr($0, 3) > (dir "/out" n); next }
    n && /^$/ { print "" > (dir "/out" n); next }
    n { exit }
' docs/marvanecfgutil-guide.txt
commands=$(ls "$session"/cmd* 2>/dev/null | wc -l)
[ "$commands" -ge 4 ] || fail "the guide's session has $commands commands"
windows_dir=$(winepath -w "$session" 2>/dev/null)
for i in $(seq 1 "$commands"); do
    # The folder in the guide stands for the session's own; the last command fails.
    sed "s|C:\\\\Marvane\\\\|${windows_dir//\\/\\\\}\\\\|" <"$session/out$i" >"$session/expected$i"
    read -r program args <"$session/cmd$i"
    # shellcheck disable=SC2086  # the guide's arguments are plain words
    expect_run "guide session: $program $args" $((i == commands)) "$session/expected$i" "$session" wine "$program.exe" $args
done

# --- The Debian package.
deb=$dist/$deb_name
depends=$(dpkg-deb --info "$deb" | sed -n 's/^ Depends: //p')
dpkg-deb -x "$deb" "$tmp/root"
mkdir -p "$tmp/shlibs/debian"
printf 'Source: marvanecfgutil\n\nPackage: marvanecfgutil\nArchitecture: any\n' >"$tmp/shlibs/debian/control"
computed=$(cd "$tmp/shlibs" && dpkg-shlibdeps -O "$tmp"/root/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
check "Depends '$depends' is what dpkg-shlibdeps computes: '$computed'" [ -n "$depends" -a "$depends" = "$computed" ]
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')
check "no maintainer scripts: $control" [ "$control" = "./control ./md5sums " ]
expected_files="usr/bin/marvanecfgutil-sim
usr/share/doc/marvanecfgutil/changelog.gz
usr/share/doc/marvanecfgutil/copyright
usr/share/doc/marvanecfgutil/marvanecfgutil-guide.txt
usr/share/man/man1/marvanecfgutil-sim.1.gz
usr/share/man/man1/marvanecfgutil.1.gz"
if [ -e "$tmp/a/linux-release/bin/marvanecfgutil" ]; then
    expected_files=$(printf '%s\nusr/bin/marvanecfgutil' "$expected_files" | sort)
else
    echo "SKIP: this tree builds no native Linux marvanecfgutil; the package carries marvanecfgutil-sim only"
fi
files=$(cd "$tmp/root" && find . -type f | sed 's|^\./||' | sort)
check "package files: $(tr '\n' ' ' <<<"$files")" [ "$files" = "$expected_files" ]

bin=$tmp/root/usr/bin
for program in "$bin"/*; do
    expect_run "packaged $(basename "$program") -?" 1 "$help" "$tmp" "$program" -?
done
mkdir "$tmp/native"
expect_run "packaged marvanecfgutil-sim -L (the guide's listing)" 0 "$session/expected1" "$tmp/native" "$bin/marvanecfgutil-sim" -L
check "both builds write the same factory settings file" bash -c "cd '$tmp/native' &&
    '$bin/marvanecfgutil-sim' -g defaults.ini >/dev/null && cmp -s defaults.ini '$zipdir/VornikMonCfg.ini'"
lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1
check "lintian reports no errors" [ $? -eq 0 ]
grep -v "running with root privileges" "$tmp/lintian.txt"
for page in docs/marvanecfgutil.1 docs/marvanecfgutil-sim.1 "$tmp"/root/usr/share/man/man1/*.gz; do
    check "$(basename "$page") lints clean" bash -c "mandoc -T lint '$page' && zcat -f '$page' | groff -man -ww -z"
done

# --- cmake --install: the same files in the GNU layout under any prefix.
cmake --install "$tmp/a/linux-release" --prefix "$tmp/prefix" >/dev/null
installed=$(cd "$tmp/prefix" && find . -type f | sed 's|^\./||; s|^share/|usr/share/|; s|^bin/|usr/bin/|' | sort)
check "cmake --install" [ "$installed" = "$expected_files" ]

[ "$failures" -eq 0 ] || { echo "release test: $failures check(s) failed"; exit 1; }
echo "release test: all checks passed"
