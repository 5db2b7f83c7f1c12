#!/usr/bin/env bash
# Installs every Debian package Torvane needs to build, run and test, then configures
# and builds. Idempotent: packages already present are not fetched again.
# Usage: scripts/setup.sh [build-dir] [extra cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-charts-dev qt6-svg-dev libqt6opengl6-dev libgl-dev qt6-qpa-plugins
  libicu-dev libssl-dev openssl prometheus-cpp-dev prometheus
  unixodbc unixodbc-dev tdsodbc freetds-bin
  python3 python3-tds python3-aiosmtpd python3-openssl
  libbenchmark-dev
  xvfb xdotool xauth imagemagick desktop-file-utils
  file dpkg-dev binutils
  librsvg2-bin lintian appstream
  locales
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The date-time tests try several locales; generate them when the machine lacks them.
want_locales=(en_US.UTF-8 en_GB.UTF-8 de_DE.UTF-8)
have=$(locale -a 2>/dev/null | tr 'A-Z' 'a-z' | sed 's/utf8/utf-8/')
gen=0
for l in "${want_locales[@]}"; do
  lc=$(echo "$l" | tr 'A-Z' 'a-z')
  if ! grep -qx "$lc" <<<"$have"; then
    if [ -f /etc/locale.gen ] && ! grep -q "^$l UTF-8" /etc/locale.gen; then
      echo "$l UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    gen=1
  fi
done
if [ $gen -eq 1 ] && command -v locale-gen >/dev/null; then "${sudo_cmd[@]}" locale-gen >/dev/null; fi

build_dir=${1:-build}
shift || true
werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTORVANE_WERROR=$werror "$@"
cmake --build "$build_dir" -j"$(nproc)"
