#!/usr/bin/env bash
# Runs the window on the built-in sandbox server under Xvfb and writes a PNG of it per
# tab into docs/ (docs/window-performance.png, -users, -databases, -allprocesses).
# Needs a build (scripts/setup.sh) and xvfb, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
mkdir -p "$out"

if [ -z "${TORVANE_SCREENSHOTS_INNER:-}" ]; then
  exec env TORVANE_SCREENSHOTS_INNER=1 xvfb-run -a -s "-screen 0 1024x720x24" "$0" "$@"
fi

# Settings of their own, so a saved logon or interval of the user's does not show.
home=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$home"' EXIT
export XDG_CONFIG_HOME="$home" TORVANE_HKLM_FILE="$home/machine.reg" TORVANE_HKCU_FILE="$home/user.reg"
build/app/torvane --demo >"$home/torvane.log" 2>&1 &
pid=$!

window=""
for _ in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --name "Velquin SQL Server Monitor" 2>/dev/null | tail -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
if [ -z "$window" ]; then
  echo "The window did not appear:" >&2
  cat "$home/torvane.log" >&2
  exit 1
fi
xdotool windowmove "$window" 0 0

# The tab captions sit at 96-pixel steps along the tab bar, right of the server list.
geometry=$(xdotool getwindowgeometry --shell "$window")
eval "$geometry"
shoot() {
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/window-$1.png"
  echo "$out/window-$1.png"
}
tab() {
  xdotool mousemove --window "$window" $((192 + 96 * $1 + 48)) 83 click 1
  sleep "${2:-2.5}"
}
row() { # click the grid row at this height, then move down by the given count
  xdotool mousemove --window "$window" 300 "$1" click 1
  for _ in $(seq 1 "$2"); do xdotool key Down; done
  sleep 1
}
# The process views first, while the built-in blocking chain (56 waits for 55, which
# waits for 54) still stands, soon after the first refresh: Users on the first user,
# Databases on Inventory (where 54 and 55 wait), All Processes on the parallel query
# (SPID 52, after the eight system processes and 51) to show its threads.
sleep 1
tab 1 1
shoot users
tab 2 0.5
row 120 3
shoot databases
tab 3 0.5
row 120 9
shoot allprocesses
# Let the sandbox's processes come and go for a few refreshes, so the charts have a history.
sleep 8
tab 0
shoot performance
