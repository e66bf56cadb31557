#!/usr/bin/env bash
# Installs what the build, the tests, the benchmarks and the package (cpack, icons, lintian and
# the desktop-file and AppStream validators) need on Debian 12, with Qt's SQLite and PostgreSQL
# drivers and the PostgreSQL server that the production store's tests start for themselves.
# Runs apt-get only when something is missing, so repeated `make` calls stay fast.
set -eu
packages=(cmake ninja-build g++ make pkg-config libgtest-dev libgmock-dev
          qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql postgresql srecord clang fonts-dejavu-core
          dpkg-dev file librsvg2-bin lintian desktop-file-utils appstream)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
