#!/usr/bin/env bash
# Installs the system packages the build and the tests need (Debian 12, as root).
set -euo pipefail
packages=(build-essential cmake ninja-build libgtest-dev libgmock-dev python3
          qt6-base-dev fonts-dejavu poppler-utils xvfb xdotool libpcre2-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
