#!/usr/bin/env bash
# Runs the window on the built-in sandbox server under Xvfb and writes PNGs of every tab
# and dialog into docs/, three times over:
#   docs/window-<tab>.png, docs/dialog-<name>.png          the default size, light palette
#   docs/scaled/...                                         at 1.5x scale (QT_SCALE_FACTOR)
#   docs/dark/...                                           on a dark desktop palette
# (tabs: performance, users, databases, allprocesses; dialogs: logon, serverlist,
# properties, about, killprocess, killuser), and in the light and the dark palette the
# blocking chains and a filtered, sorted process list (feature-blocking.png,
# feature-filter.png). Needs a build (scripts/setup.sh) and xvfb, xdotool
# and imagemagick. An argument names another folder than docs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}

if [ -z "${TORVANE_SCREENSHOTS_INNER:-}" ]; then
  exec env TORVANE_SCREENSHOTS_INNER=1 xvfb-run -a -s "-screen 0 1600x1200x24" "$0" "$@"
fi

# Settings of their own, so a saved logon or interval of the user's does not show.
home=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$home"' EXIT

# A dark colour scheme as a KDE desktop keeps it in its configuration folder; the
# toolkit reads it when it sees KDE.
mkdir -p "$home/dark"
cat >"$home/dark/kdeglobals" <<'EOF'
[Colors:Window]
BackgroundNormal=35,38,41
ForegroundNormal=239,240,241
[Colors:View]
BackgroundNormal=27,30,32
ForegroundNormal=239,240,241
[Colors:Button]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=252,252,252
[Colors:Tooltip]
BackgroundNormal=49,54,59
ForegroundNormal=239,240,241
EOF

window=""
scale=1
menubar=15

# The visible window with this title that is not the main window (the logon dialog
# has the main window's title), or the main window itself when asked for it.
find_window() {
  local title=$1 other=${2:-} found=""
  for _ in $(seq 1 50); do
    for id in $(xdotool search --onlyvisible --name "$title" 2>/dev/null || true); do
      [ "$id" = "$other" ] && continue
      found=$id
    done
    [ -n "$found" ] && break
    sleep 0.2
  done
  echo "$found"
}

shoot_window() { # window id, file
  local WIDTH HEIGHT X Y SCREEN geometry
  geometry=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || { echo "no window for $2" >&2; return 0; }
  eval "$geometry"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$2"
  echo "$2"
}

# A point of the main window given in design pixels (the window is 756 design pixels
# wide at its default size, whatever the font and the screen's scale); the menu bar
# above the toolbar is about 15 of them high.
at() { echo "$(awk -v v="$1" -v s="$scale" 'BEGIN { printf "%d", v * s }')"; }
click() { # x, y in design pixels below the menu bar
  xdotool mousemove --window "$window" "$(at "$1")" $((menubar + $(at "$2"))) click 1
}
tab() { # the tab captions: 96 design pixels each, right of the 185-pixel server list
  click $((185 + 5 + 96 * $1 + 48)) $((52 + 12))
  sleep "${2:-2.5}"
}
row() { # click the grid row at this height, then move down by the given count
  click 330 "$1"
  for _ in $(seq 1 "$2"); do xdotool key Down; done
  sleep 1
}
menu() { # open the menu bar's first menu, move right by $1 menus and down by $2 items
  # (a menu reached with Right has its first item active already)
  xdotool mousemove --window "$window" "$(at 20)" $((menubar / 2)) click 1
  sleep 0.5
  for _ in $(seq 1 "$1"); do xdotool key Right; done
  for _ in $(seq 1 "$2"); do xdotool key Down; done
  xdotool key Return
  sleep 1.5
}
close_dialog() { # the dialog's window id
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  xdotool key Escape 2>/dev/null || true
  sleep 1
}

run() { # folder, configuration folder, then the environment of this run
  local dir=$1 config=$2
  shift 2
  mkdir -p "$dir" "$config"
  env "$@" XDG_CONFIG_HOME="$config" TORVANE_HKLM_FILE="$home/machine.reg" \
    TORVANE_HKCU_FILE="$home/user.reg" build/app/torvane --demo >"$home/torvane.log" 2>&1 &
  pid=$!
  window=$(find_window "Velquin SQL Server Monitor")
  if [ -z "$window" ]; then
    echo "The window did not appear:" >&2
    cat "$home/torvane.log" >&2
    exit 1
  fi
  xdotool windowmove "$window" 0 0
  sleep 1
  local WIDTH HEIGHT X Y SCREEN
  eval "$(xdotool getwindowgeometry --shell "$window")"
  scale=$(awk -v w="$WIDTH" 'BEGIN { print w / 756 }')
  menubar=$(at 15)

  # The process views first, while the built-in blocking chain (56 waits for 55, which
  # waits for 54) still stands, soon after the first refresh: Users on the first user,
  # Databases on Inventory (where 54 and 55 wait), All Processes on the parallel query
  # (SPID 52, after the eight system processes and 51) to show its threads.
  sleep 1
  tab 1 1
  shoot_window "$window" "$dir/window-users.png"
  # The question before killing a user's processes (a user on a host with a hyphen in
  # its name, a few rows down), from the toolbar's kill-user button; answered No.
  row 122 3
  click 125 26
  local box
  box=$(find_window "Kill Database Processes")
  [ -n "$box" ] && shoot_window "$box" "$dir/dialog-killuser.png" && close_dialog "$box"
  tab 2 0.5
  row 122 3
  shoot_window "$window" "$dir/window-databases.png"
  tab 3 0.5
  row 122 9
  shoot_window "$window" "$dir/window-allprocesses.png"
  # The question before a kill, from the toolbar's kill button; answered No.
  click 75 26
  box=$(find_window "Kill Process")
  [ -n "$box" ] && shoot_window "$box" "$dir/dialog-killprocess.png" && close_dialog "$box"

  # Monitor > Properties, Help > About Torvane, Monitor > Connect To New Server and
  # from there the server list ("..." is the next control after the server box).
  menu 0 2
  box=$(find_window "Torvane Properties")
  [ -n "$box" ] && shoot_window "$box" "$dir/dialog-properties.png" && close_dialog "$box"
  menu 3 1
  box=$(find_window "About Torvane")
  [ -n "$box" ] && shoot_window "$box" "$dir/dialog-about.png" && close_dialog "$box"
  menu 0 1
  local logon
  logon=$(find_window "Velquin SQL Server Monitor" "$window")
  if [ -n "$logon" ]; then
    shoot_window "$logon" "$dir/dialog-logon.png"
    xdotool windowfocus --sync "$logon" 2>/dev/null || true
    xdotool key Tab space
    sleep 3
    box=$(find_window "SQL Server List")
    [ -n "$box" ] && shoot_window "$box" "$dir/dialog-serverlist.png" && close_dialog "$box"
    close_dialog "$logon"
  fi

  # Let the sandbox's processes come and go for a few refreshes, so the charts have a history.
  sleep 6
  tab 0
  shoot_window "$window" "$dir/window-performance.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
}

# The blocking chains (Ctrl+B), then a filter typed into the box (Ctrl+F) over the list
# sorted by database (a click on its heading), in a larger window on a sandbox
# server of its own whose control port makes the chains: 54 <- 55 <- 56 <- 57 with 60
# also waiting for 55 and 61 for 54, and 63 waiting for 62.
control() { # the sandbox's control port, then commands
  /usr/bin/python3 - "$@" <<'PY'
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1]))) as s:
    s.settimeout(2)
    for command in sys.argv[2:]:
        s.sendall(command.encode() + b"\n")
        s.recv(1000)
PY
}
features() { # folder, configuration folder, then the environment of this run
  local dir=$1 config=$2 sandbox port ctl
  shift 2
  mkdir -p "$dir" "$config"
  build/sandbox/torvane-sandbox --port 0 --control-port 0 --seed 7 >"$home/sandbox.out" 2>&1 &
  sandbox=$!
  for _ in $(seq 1 50); do grep -q '^control' "$home/sandbox.out" && break; sleep 0.1; done
  port=$(awk '/^port/ { print $2 }' "$home/sandbox.out")
  ctl=$(awk '/^control/ { print $2 }' "$home/sandbox.out")
  env "$@" XDG_CONFIG_HOME="$config" TORVANE_HKLM_FILE="$home/machine.reg" \
    TORVANE_HKCU_FILE="$home/user.reg" TORVANE_PASSWORD=torvane \
    build/app/torvane --server "127.0.0.1,$port" --user sa >"$home/torvane.log" 2>&1 &
  pid=$!
  window=$(find_window "Velquin SQL Server Monitor")
  [ -n "$window" ] || { cat "$home/torvane.log" >&2; exit 1; }
  xdotool windowmove "$window" 0 0
  xdotool windowsize "$window" 1000 700
  sleep 2.5
  scale=1
  menubar=$(at 15)
  tab 3 0.5
  row 155 54
  control "$ctl" "block 55 54" "block 56 55" "block 57 56" "block 60 55" "block 61 54" "block 63 62"
  xdotool key ctrl+b
  sleep 2
  # The first waiting session of the tree: the list selects it too.
  click 290 318
  sleep 1
  shoot_window "$window" "$dir/feature-blocking.png"
  xdotool key ctrl+b ctrl+f
  xdotool type --delay 60 "app"
  click 500 132
  sleep 2.5
  shoot_window "$window" "$dir/feature-filter.png"
  kill "$pid" "$sandbox"
  wait "$pid" "$sandbox" 2>/dev/null || true
  pid=""
}

run "$out" "$home/light" XDG_CURRENT_DESKTOP= KDE_SESSION_VERSION=
run "$out/scaled" "$home/light" XDG_CURRENT_DESKTOP= KDE_SESSION_VERSION= QT_SCALE_FACTOR=1.5
run "$out/dark" "$home/dark" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
features "$out" "$home/light" XDG_CURRENT_DESKTOP= KDE_SESSION_VERSION=
features "$out/dark" "$home/dark" XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5
