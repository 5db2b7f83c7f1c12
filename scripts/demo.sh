#!/usr/bin/env bash
# Installs what is missing, builds, and opens the monitor on the built-in sandbox server
# (a simulated SQL Server started inside the program on a free loopback port). Without a
# display the same runs as the headless monitor. Extra arguments go to the program,
# e.g. `bash scripts/demo.sh --server otherhost --user sa`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build >&2
exec build/app/torvane --demo "$@"
