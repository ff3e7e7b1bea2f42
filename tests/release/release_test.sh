#!/usr/bin/env bash
# The release artifacts: built twice from scratch they are byte-identical; the zip holds
# the programs, the guide with CRLF line ends, the factory settings and valid checksums;
# its programs run under Wine with the help text and the guide's simulator session; the
# Debian package holds the programs, manual pages and documents, its Depends is what
# dpkg-shlibdeps computes, it has no maintainer scripts, lintian finds no error, and its
# programs run from a scratch root. Exits non-zero when any check fails.
#
#   bash tests/release/release_test.sh [--once]
#
# --once builds a single time and skips the comparison, for a quick look while editing.
set -u
runs="a b"
[ "${1:-}" = "--once" ] && runs="a"
cd "$(dirname "$0")/../.." || exit 1
source_dir=$PWD
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${RELEASE_PACKAGES[@]}" || exit 1

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

tmp=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$source_dir/build/windows/wineprefix} WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
cleanup() {
    wineserver -k </dev/null >/dev/null 2>&1
    rm -rf "$tmp"
}
trap cleanup EXIT

version=$(sed -n 's/^project(marvanecfgutil VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip_name=marvanecfgutil-$version-windows-x64
deb_name=marvanecfgutil_${version}_amd64.deb

# --- Two release runs, each in fresh build directories.
for run in $runs; do
    start=$SECONDS
    if ! bash scripts/release.sh --build-root "$tmp/$run" --out "$tmp/$run/dist" >"$tmp/$run.log" 2>&1; then
        cat "$tmp/$run.log"
        echo "FAIL: release run $run"
        exit 1
    fi
    echo "release run $run: $((SECONDS - start)) s"
done
cat "$tmp/a.log"
[ "$runs" = "a" ] && echo "SKIP: built once; reproducibility not checked"
for artifact in "$zip_name.zip" "$deb_name"; do
    [ "$runs" = "a" ] && break
    if cmp -s "$tmp/a/dist/$artifact" "$tmp/b/dist/$artifact"; then
        pass "$artifact is byte-identical in both runs"
    else
        fail "$artifact differs between two runs of the same commit"
    fi
done
dist=$tmp/a/dist
linux_bin=$tmp/a/linux-release/bin

help=$source_dir/tests/data/app/help.txt

# Runs "$@" in a folder, checks its exit status and that its output equals a file, both
# without carriage returns and trailing blank lines.
expect_run() {
    local what=$1 status=$2 expected=$3 dir=$4
    shift 4
    local actual=$tmp/actual.txt result
    (cd "$dir" && "$@") </dev/null >"$actual" 2>&1
    result=$?
    sed -i 's/\r$//' "$actual"
    sed -i -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$actual"
    sed -e :a -e '/^\n*$/{$d;N;ba' -e '}' "$expected" >"$tmp/expected.txt"
    if [ "$result" -ne "$status" ]; then
        fail "$what: exit status $result, expected $status"
    elif ! diff -u "$tmp/expected.txt" "$actual" >"$tmp/diff.txt"; then
        fail "$what: output differs"
        head -40 "$tmp/diff.txt"
    else
        pass "$what"
    fi
}

# --- The zip.
unzip -q "$dist/$zip_name.zip" -d "$tmp/zip"
zipdir=$tmp/zip/$zip_name
listing=$(unzip -Z1 "$dist/$zip_name.zip" | tr '\n' ' ')
expected_listing="$zip_name/ $zip_name/marvanecfgutil.exe $zip_name/marvanecfgutil-sim.exe $zip_name/marvanecfgutil-guide.txt $zip_name/VornikMonCfg.ini $zip_name/SHA256SUMS "
[ "$listing" = "$expected_listing" ] && pass "zip holds the five files" || fail "zip holds: $listing"
(cd "$zipdir" && sha256sum --quiet -c SHA256SUMS) && pass "SHA256SUMS verifies" || fail "SHA256SUMS"

exe=$zipdir/marvanecfgutil.exe
size=$(stat -c %s "$exe")
[ "$size" -lt 1048576 ] && pass "marvanecfgutil.exe is $size bytes" || fail "marvanecfgutil.exe is $size bytes"
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q "^Time/Date.*1970" <<<"$headers" && pass "no link time stamp" || fail "PE header has a time stamp"
grep "DLL Name" <<<"$headers" | grep -qiE "libstdc|libgcc|winpthread" && fail "exe needs MinGW runtime DLLs" || pass "exe is static"
x86_64-w64-mingw32-objdump -h "$exe" | grep -qE "\.debug|\.stab" && fail "exe is not stripped" || pass "exe is stripped"
strings -el "$exe" | grep -qx "Marvane Configuration utility" && pass "version resource" || fail "no version resource"
grep -q "requestedExecutionLevel" "$exe" && pass "manifest" || fail "no manifest"

guide=$zipdir/marvanecfgutil-guide.txt
if [ "$(grep -c $'\r$' "$guide")" -eq "$(wc -l <"$guide")" ] && sed 's/\r$//' "$guide" | cmp -s - docs/marvanecfgutil-guide.txt; then
    pass "guide has CRLF line ends"
else
    fail "guide is not docs/marvanecfgutil-guide.txt with CRLF line ends"
fi

# Under Wine: the help text, and the guide's session with the simulated monitors.
wineserver -p </dev/null >/dev/null 2>&1
expect_run "zip marvanecfgutil.exe -? under Wine" 1 "$help" "$tmp" wine "$exe" -?

# The session of the guide's last section: "  > command" lines, each followed by its output.
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
    # The folder in the guide stands for the session's own.
    sed "s|C:\\\\Marvane\\\\|${windows_dir//\\/\\\\}\\\\|" <"$session/out$i" >"$session/expected$i"
    read -r program args <"$session/cmd$i"
    status=0
    [ "$i" -eq "$commands" ] && status=1
    # shellcheck disable=SC2086  # the guide's arguments are plain words
    expect_run "guide session: $program $args" $status "$session/expected$i" "$session" wine "$program.exe" $args
done

# --- The Debian package.
deb=$dist/$deb_name
info=$(dpkg-deb --info "$deb")
depends=$(sed -n 's/^ Depends: //p' <<<"$info")
dpkg-deb -x "$deb" "$tmp/root"
mkdir -p "$tmp/shlibs/debian"
printf 'Source: marvanecfgutil\n\nPackage: marvanecfgutil\nArchitecture: any\n' >"$tmp/shlibs/debian/control"
computed=$(cd "$tmp/shlibs" && dpkg-shlibdeps -O "$tmp"/root/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
if [ -n "$depends" ] && [ "$depends" = "$computed" ]; then
    pass "Depends: $depends"
else
    fail "Depends is '$depends', dpkg-shlibdeps computes '$computed'"
fi
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | sort | tr '\n' ' ')
[ "$control" = "./control ./md5sums " ] && pass "no maintainer scripts" || fail "control archive holds: $control"

expected_files="usr/bin/marvanecfgutil-sim
usr/share/doc/marvanecfgutil/changelog.gz
usr/share/doc/marvanecfgutil/copyright
usr/share/doc/marvanecfgutil/marvanecfgutil-guide.txt
usr/share/man/man1/marvanecfgutil-sim.1.gz
usr/share/man/man1/marvanecfgutil.1.gz"
if [ -e "$linux_bin/marvanecfgutil" ]; then
    expected_files=$(printf '%s\nusr/bin/marvanecfgutil' "$expected_files" | sort)
else
    echo "SKIP: this tree builds no native Linux marvanecfgutil yet; the package carries marvanecfgutil-sim only"
fi
files=$(cd "$tmp/root" && find . -type f | sed 's|^\./||' | sort)
[ "$files" = "$expected_files" ] && pass "package files" || fail "package holds: $(tr "\n" " " <<<"$files")"

bin=$tmp/root/usr/bin
expect_run "packaged marvanecfgutil-sim -?" 1 "$help" "$tmp" "$bin/marvanecfgutil-sim" -?
if [ -e "$bin/marvanecfgutil" ]; then
    expect_run "packaged marvanecfgutil -?" 1 "$help" "$tmp" "$bin/marvanecfgutil" -?
fi
mkdir "$tmp/native"
expect_run "packaged marvanecfgutil-sim -L (the guide's listing)" 0 "$session/expected1" "$tmp/native" "$bin/marvanecfgutil-sim" -L
if (cd "$tmp/native" && "$bin/marvanecfgutil-sim" -g "$tmp/native/defaults.ini" >/dev/null) &&
    cmp -s "$tmp/native/defaults.ini" "$zipdir/VornikMonCfg.ini"; then
    pass "both builds write the same factory settings file"
else
    fail "the packaged -g file differs from the zip's VornikMonCfg.ini"
fi

if lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1; then
    pass "lintian reports no errors"
else
    fail "lintian"
fi
grep -v "running with root privileges" "$tmp/lintian.txt"

for page in docs/marvanecfgutil.1 docs/marvanecfgutil-sim.1 "$tmp"/root/usr/share/man/man1/*.gz; do
    if mandoc -T lint "$page" && zcat -f "$page" | groff -man -ww -z; then
        pass "$(basename "$page") lints clean"
    else
        fail "$(basename "$page") has lint warnings"
    fi
done

# --- cmake --install: the GNU layout under any prefix.
cmake --install "$tmp/a/linux-release" --prefix "$tmp/prefix" >/dev/null
for file in bin/marvanecfgutil-sim share/man/man1/marvanecfgutil.1.gz share/doc/marvanecfgutil/marvanecfgutil-guide.txt; do
    [ -f "$tmp/prefix/$file" ] || fail "cmake --install wrote no $file"
done
[ "$(cd "$tmp/prefix" && find . -type f | wc -l)" -eq "$(echo "$expected_files" | wc -l)" ] &&
    pass "cmake --install" || fail "cmake --install wrote another set of files"

if [ "$failures" -ne 0 ]; then
    echo "release test: $failures check(s) failed"
    exit 1
fi
echo "release test: all checks passed"
