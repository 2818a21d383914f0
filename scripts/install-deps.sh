#!/usr/bin/env bash
# Installs what building, testing and running need on Debian 12 (as root; skipped when present).
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
      libgtest-dev libgmock-dev qt6-base-dev libgl1-mesa-dev libzip-dev zlib1g-dev libexpat1-dev
      libfreexl-dev libjpeg-dev xvfb xauth libdbd-xbase-perl nodejs npm unzip)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
