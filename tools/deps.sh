#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages, when missing;
# packages named as arguments are installed with them.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev dpkg-dev desktop-file-utils appstream qt6-qpa-plugins libgl-dev libgtest-dev
          libbenchmark-dev fonts-liberation2 fontconfig clang-format clang-tidy clang libclang-rt-14-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
