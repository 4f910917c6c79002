#!/bin/sh
# run_under_x.sh PROGRAM BIN: runs the desktop test PROGRAM under a virtual X server, from a copy
# in a temporary folder (the settings file and the plug-in's log are written beside the
# program), twice: its tests at the usual scale, then its HiDPI tests with GDK_SCALE=2; then
# the station program of BIN, copied with its modules, opens its window (--ui desktop) and
# serves a port without a phone until its time limit. Exit status 77 (skipped) with the
# reason when no X server can be started here.
set -u
program=$1
bin=$2
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "skipped: xvfb-run is not installed (Debian package xvfb)"
  exit 77
fi
if ! xvfb-run -a -s "-screen 0 1600x1000x24" true >/dev/null 2>&1; then
  echo "skipped: no virtual X server can be started here (xvfb-run -a true failed)"
  exit 77
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/tr52-desktop-XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
copy="$dir/$(basename "$program")"
cp "$program" "$copy" || exit 1
# The window layer it links is found beside it, as beside every program of the bin folder.
cp "$bin/libtr52_win.so" "$dir/" || exit 1
# A session bus is not there: screen readers' properties are read inside the process.
export GTK_A11Y=test NO_AT_BRIDGE=1
# The file chooser's settings and recent files stay in the temporary folder.
export GSETTINGS_BACKEND=memory XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" \
  XDG_CACHE_HOME="$dir/cache"
# In a sanitizer build GTK is kept from probing OpenGL, which the station does not draw with:
# the virtual X server's software driver is loaded for the probe and unloaded again, and what
# it keeps would be reported as a leak that no suppression can name.
if ldd "$program" 2>/dev/null | grep -q 'libasan'; then
  export GDK_DEBUG=gl-disable
fi
xvfb-run -a -s "-screen 0 1600x1000x24" "$copy" --gtest_filter=-*HiDpi* || exit $?
GDK_SCALE=2 xvfb-run -a -s "-screen 0 1600x1000x24" "$copy" --gtest_filter=*HiDpi* || exit $?

# The program itself loads its desktop module and opens the window (--ui desktop is refused
# with exit status 2 when it cannot), serves a port without a phone and ends at its time limit.
mkdir "$dir/bin" "$dir/ports" && chmod 700 "$dir/ports" || exit 1
for f in station TR52_091117_MP.so libtr52_win.so tr52_station_desktop.so; do
  cp "$bin/$f" "$dir/bin/" || exit 1
done
TR52_PORT_TABLE="$dir/ports" xvfb-run -a -s "-screen 0 1600x1000x24" \
  "$dir/bin/station" --ui desktop --ports 250 --timeout 2 >"$dir/station.txt" 2>&1
status=$?
cat "$dir/station.txt"
if [ "$status" -ne 0 ] || ! grep -q "time limit reached" "$dir/station.txt"; then
  echo "station --ui desktop ended with exit status $status before its time limit"
  exit 1
fi
