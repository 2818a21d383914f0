#!/usr/bin/env bash
# Installs what building, testing and running need on Debian 12 (as root; skipped when present).
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format
      libgtest-dev libgmock-dev qt6-base-dev libgl1-mesa-dev libzip-dev zlib1g-dev libisal-dev
      libjpeg-dev xvfb xauth libdbd-xbase-perl unzip nlohmann-json3-dev)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js and npm often come with the machine rather than from Debian's packages.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Another apt run (an unattended upgrade on a fresh machine) may hold the lock for a while.
  apt-get -o DPkg::Lock::Timeout=600 update -qq
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
