#!/usr/bin/env bash
# Memory and CPU of the desktop station, idle and with 16 panes updating, on a virtual X server:
# /usr/bin/time -v over the whole station process (its window, the plug-in's download threads
# and the history's writer), beside the same downloads shown as plain lines. The X server's own
# CPU time in the same run is printed too: the station draws the window's pictures and hands
# them to the server, which puts them on the screen, a cost outside the station's process.
#
#   bench/desktop_load.sh [BIN] [--rate BYTES_PER_S] [--only REGEX]
#
#   BIN     the build's bin folder (default build/release/bin, else build/debug/bin)
#   --rate  the line rate of the paced runs, bytes a second per phone (default 1048576, about
#           what a full-speed USB serial line carries at best; 0: no paced runs)
#   --only  only the runs whose label matches REGEX (e.g. "paced")
#
# The 16-phone runs go twice. Unpaced: the pseudo-terminals move bytes as fast as the processor
# copies them, the phones come back from a reboot in 0.5 s and the station's named waits are
# compressed 20 times, so the downloads take a fraction of a real one's time and the CPU share
# is far above what a technician's station spends. Paced, as at a technician's desk: each
# virtual phone takes and sends its bytes at --rate, stays away 3 s on a reboot, and the
# station's waits are real. Everything lives in one temporary folder (a copy of the programs, the
# package, the port table), removed at the end with the phones and the X server it started.
# Prints one line per run: the peak resident memory, the CPU time, the wall time, the CPU share
# of one core, and the X server's CPU time over the run.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/release/bin
[[ -x $bin/station ]] || bin=$root/build/debug/bin
rate=1048576
only=.
while (($#)); do
  case $1 in
    --rate) rate=${2:?--rate needs a number}; shift 2 ;;
    --only) only=${2:?--only needs a pattern}; shift 2 ;;
    -*) echo "desktop_load: unknown option $1" >&2; exit 2 ;;
    *) bin=$1; shift ;;
  esac
done
[[ $rate =~ ^[0-9]+$ ]] || { echo "desktop_load: --rate must be a number: $rate" >&2; exit 2; }
for need in station vphone dztool TR52_091117_MP.so libtr52_win.so tr52_station_desktop.so; do
  [[ -e $bin/$need ]] || { echo "desktop_load: no $need in $bin (build first)" >&2; exit 2; }
done
command -v Xvfb >/dev/null || { echo "desktop_load: Xvfb is missing (scripts/bootstrap)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "desktop_load: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tr52-desktop-load-XXXXXX")
pids=()
xpid=
cleanup() {
  local pid
  for pid in "${pids[@]}" $xpid; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}" $xpid; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/bin" "$work/images"
cp "$bin"/{station,TR52_091117_MP.so,libtr52_win.so,tr52_station_desktop.so} "$work/bin/"
export TR52_PORT_TABLE=$work/ports GSETTINGS_BACKEND=memory XDG_DATA_HOME=$work/data \
  XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state \
  NO_AT_BRIDGE=1
mkdir -p -m 700 "$TR52_PORT_TABLE"

# The X server of every run, on the first free display number.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xpid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || { echo "desktop_load: Xvfb did not start" >&2; exit 2; }
export DISPLAY=:$(head -n1 "$work/display")

# A package of the plug-in's images (sizes as in the demo).
specs=()
for image in AMSS:3145728:enc EFS_GANG:2097152 PARTITION_TBL:512 FLEXIBLE_LOGO:65536 DBL:32768 \
  FSBL:65536 OSBL:131072; do
  IFS=: read -r type size flag <<<"$image"
  head -c "$size" /dev/urandom >"$work/images/$type.bin"
  specs+=("$type=$work/images/$type.bin${flag:+,$flag}")
done
"$bin/dztool" build "$work/bench.dz" "${specs[@]}" >/dev/null
"$work/bin/station" --package "$work/bench.dz" >/dev/null

# The X server's CPU time so far, in seconds.
xcpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' \
    "/proc/$xpid/stat"
}

# One measured run: LABEL, then the station's arguments.
measure() {
  local label=$1 xbefore xafter
  shift
  xbefore=$(xcpu)
  /usr/bin/time -v -o "$work/time.txt" "$work/bin/station" "$@" >"$work/station.log" 2>&1 || true
  xafter=$(xcpu)
  awk -v label="$label" -v x="$(awk -v a="$xbefore" -v b="$xafter" 'BEGIN { print b - a }')" -F': ' '
    /Maximum resident set size/ { rss = $2 }
    /User time/ { user = $2 }
    /System time/ { sys = $2 }
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    END { printf "%-40s max RSS %6.1f MB  CPU %6.2f s  wall %6.2f s  %5.1f %% of one core  X server %5.2f s\n",
          label, rss / 1024, user + sys, wall, (wall > 0 ? 100 * (user + sys) / wall : 0), x }' \
    "$work/time.txt"
}

start_phones() {
  local com
  for com in $(seq 101 116); do
    "$bin/vphone" --com "$com" "$@" >"$work/vphone-$com.log" 2>&1 &
    pids+=($!)
  done
  sleep 1
}
stop_phones() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}

# LABEL UI TIME_SCALE [vphone options]: the 16 phones downloading once each.
sixteen() {
  local label=$1 ui=$2 scale=$3
  shift 3
  [[ $label =~ $only ]] || return 0
  start_phones "$@"
  measure "$label" --ui "$ui" --ports 101-116 --batch --time-scale "$scale" --timeout 900
  { grep -c "RESULT OK" "$work/station.log" || true; } | sed 's/^/  downloads OK: /'
  stop_phones
}

uptime | sed 's/^/machine:/'
for ui in desktop plain; do
  label="$ui, idle (1 port, 20 s)"
  [[ $label =~ $only ]] && measure "$label" --ui "$ui" --ports 200 --timeout 20
done
for ui in desktop plain; do sixteen "$ui, 16 phones, unpaced" "$ui" 20 --reboot-delay-ms 500; done
if ((rate > 0)); then
  for ui in desktop plain; do
    sixteen "$ui, 16 phones, paced $rate B/s" "$ui" 1 --link-bytes-per-s "$rate" \
      --reboot-delay-ms 3000
  done
fi
uptime | sed 's/^/machine:/'
