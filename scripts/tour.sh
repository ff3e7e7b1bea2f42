#!/usr/bin/env bash
# The main job, against two simulated monitors: list them, save the first one's settings,
# edit the file, apply it to every monitor and save again to see the change.
set -eu
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages "${NATIVE_PACKAGES[@]}"
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target marvanecfgutil-sim
sim="$PWD/build/linux/bin/marvanecfgutil-sim"

work=$(mktemp -d)
cd "$work"   # the simulated monitors live in ./marvanecfgutil-sim.state
show() { echo; echo "\$ marvanecfgutil-sim $*"; "$sim" "$@"; echo "(exit status $?)"; }

show -L
show -o "$work/monitor.ini"
cat monitor.ini
echo; echo "Setting Volume=10 and Brightness=0a in monitor.ini"
sed -i -e 's/^Volume=[0-9a-fA-F]*/Volume=10/' -e 's/^Brightness=[0-9a-fA-F]*/Brightness=0a/' monitor.ini
show -i "$work/monitor.ini"
show -s 41-A0002 -o "$work/second.ini"
diff monitor.ini second.ini && echo "The second monitor now holds the edited settings."
echo; echo "Report transcript: $work/marvanecfgutil-sim.transcript ($(grep -c " OUT " marvanecfgutil-sim.transcript) reports sent to the monitors)"
