#!/usr/bin/env bash
# Installs what a Debian 12 machine is missing, builds, and then either starts
# the program (./build.sh run) or runs every test (./build.sh test).
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake ninja-build qt6-base-dev libjpeg-dev libgtest-dev libcli11-dev xvfb xauth)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$(nproc)"
}

case "${1:-}" in
    run)
        install_missing
        build
        exec ./build/bin/qm730c
        ;;
    test)
        install_missing
        build
        cd build
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
        ;;
    *)
        echo "usage: $0 run|test" >&2
        exit 2
        ;;
esac
