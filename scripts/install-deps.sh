#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Morvex need,
# only when some are missing, so repeated runs cost nothing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    clang libclang-rt-14-dev
    libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
    qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl1-mesa-dev
    libsndfile1-dev sndfile-programs sox ffmpeg
    nlohmann-json3-dev libpugixml-dev
    xvfb xauth time
    dpkg-dev file desktop-file-utils groff-base
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
