#!/usr/bin/env bash
# Installs what is missing, builds, starts the built-in sandbox server on a free
# loopback port and runs the monitor against it. Extra arguments go to the monitor,
# e.g. `bash scripts/demo.sh --show users`. Ctrl-C stops both.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >&2

sandbox_out=$(mktemp)
build/sandbox/torvane-sandbox --port 0 >"$sandbox_out" 2>&1 &
sandbox_pid=$!
trap 'kill $sandbox_pid 2>/dev/null; rm -f "$sandbox_out"' EXIT

port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$sandbox_out" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "The sandbox server did not start:" >&2
  cat "$sandbox_out" >&2
  exit 1
fi
echo "Sandbox SQL Server listening on 127.0.0.1,$port (login sa, password torvane)" >&2

args=("$@")
[ ${#args[@]} -eq 0 ] && args=(--show processes --interval 2)
TORVANE_PASSWORD=torvane build/app/torvane --headless --server "127.0.0.1,$port" --user sa "${args[@]}"
