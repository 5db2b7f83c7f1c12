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
# Let the sandbox's processes come and go for a few refreshes, so the charts have a history.
sleep 12

# The tab captions sit at 96-pixel steps along the tab bar, right of the server list.
geometry=$(xdotool getwindowgeometry --shell "$window")
eval "$geometry"
tabs=(performance users databases allprocesses)
for i in 0 1 2 3; do
  xdotool mousemove --window "$window" $((192 + 96 * i + 48)) 83 click 1
  sleep 2.5
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$out/window-${tabs[$i]}.png"
  echo "$out/window-${tabs[$i]}.png"
done
