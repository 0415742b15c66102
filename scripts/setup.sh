#!/usr/bin/env bash
# Installs what building, testing and running VanTorel needs, only what is missing; further
# packages named as arguments too (scripts/package.sh names what building the package needs).
# qt6-websockets-dev: the CMake files of qt6-httpserver-dev need it, which does not depend on it.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-charts-dev
          libqt6opengl6-dev libgl-dev xvfb xauth clang-14 libclang-rt-14-dev desktop-file-utils
          libqt6sql6-sqlite libqt6sql6-psql postgresql qt6-httpserver-dev qt6-websockets-dev prometheus-cpp-dev prometheus
          libyaml-cpp-dev libcrypt-dev libssl-dev openssl curl apache2-utils python3-bcrypt
          mosquitto libmosquitto-dev mosquitto-clients libpodofo-dev poppler-utils "$@")
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages need root: run this script as root (or with sudo)." >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
