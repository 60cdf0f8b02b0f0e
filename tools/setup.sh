#!/usr/bin/env bash
# Installs the Debian packages the build and tests need, and only when one is missing,
# so that a machine that already has them (CI after the first run) pays nothing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config zip
  libirrlicht-dev libbullet-dev libopenal-dev libvorbis-dev libssl-dev libplib-dev
  libhidapi-dev bison flex libx11-dev zlib1g-dev libpng-dev libjpeg-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri
  libfreetype-dev fonts-dejavu-core
  sox love
  libcpp-httplib-dev libsqlite3-dev libpqxx-dev postgresql chromium
  clang-format clang-tidy stress-ng python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
