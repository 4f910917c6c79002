#!/usr/bin/env bash
# Memory and CPU of the desktop station, idle and with 16 panes updating, on a virtual X server:
# /usr/bin/time -v over the whole station process (its window, the plug-in's download threads
# and GTK's renderer), beside the same 16 downloads shown as plain lines.
#
#   bench/desktop_load.sh [BIN]   BIN: the build's bin folder (default build/release/bin, else
#                                 build/debug/bin)
#
# Everything lives in one temporary folder (a copy of the programs, the package, the port
# table), removed at the end with the phones it started. Prints one line per run: the peak
# resident memory, the CPU time, the wall time and the CPU share of one core.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=${1:-$root/build/release/bin}
[[ -x $bin/station ]] || bin=$root/build/debug/bin
for need in station vphone dztool TR52_091117_MP.so libtr52_win.so tr52_station_desktop.so; do
  [[ -e $bin/$need ]] || { echo "desktop_load: no $need in $bin (build first)" >&2; exit 2; }
done
command -v xvfb-run >/dev/null || { echo "desktop_load: xvfb-run is missing (scripts/bootstrap)" >&2; exit 2; }
[[ -x /usr/bin/time ]] || { echo "desktop_load: /usr/bin/time is missing (Debian package time)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tr52-desktop-load-XXXXXX")
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/bin" "$work/images"
cp "$bin"/{station,TR52_091117_MP.so,libtr52_win.so,tr52_station_desktop.so} "$work/bin/"
export TR52_PORT_TABLE=$work/ports GSETTINGS_BACKEND=memory XDG_DATA_HOME=$work/data \
  XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache NO_AT_BRIDGE=1
mkdir -p -m 700 "$TR52_PORT_TABLE"

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

# One measured run: LABEL, then the station's arguments.
measure() {
  local label=$1
  shift
  xvfb-run -a -s "-screen 0 1600x1000x24" /usr/bin/time -v -o "$work/time.txt" \
    "$work/bin/station" "$@" >"$work/station.log" 2>&1 || true
  awk -v label="$label" -F': ' '
    /Maximum resident set size/ { rss = $2 }
    /User time/ { user = $2 }
    /System time/ { sys = $2 }
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); wall = 0; for (i = 1; i <= n; i++) wall = wall * 60 + t[i] }
    END { printf "%-34s max RSS %6.1f MB  CPU %6.2f s  wall %6.2f s  %5.1f %% of one core\n",
          label, rss / 1024, user + sys, wall, (wall > 0 ? 100 * (user + sys) / wall : 0) }' \
    "$work/time.txt"
}

measure "desktop, idle (1 port, 20 s)" --ui desktop --ports 200 --timeout 20
measure "plain lines, idle (1 port, 20 s)" --ui plain --ports 200 --timeout 20

start_phones() {
  local com
  for com in $(seq 101 116); do
    "$bin/vphone" --com "$com" --reboot-delay-ms 500 >"$work/vphone-$com.log" 2>&1 &
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

start_phones
measure "desktop, 16 phones downloading" --ui desktop --ports 101-116 --batch --time-scale 20 \
  --timeout 300
{ grep -c "RESULT OK" "$work/station.log" || true; } | sed 's/^/  downloads OK: /'
stop_phones

start_phones
measure "plain lines, 16 phones downloading" --ui plain --ports 101-116 --batch --time-scale 20 \
  --timeout 300
{ grep -c "RESULT OK" "$work/station.log" || true; } | sed 's/^/  downloads OK: /'
stop_phones
