#!/usr/bin/env bash
# Installs what a Debian 12 machine is missing, builds, and then starts the
# program (./build.sh run), runs every test (./build.sh test), or starts the
# program on a simulated board (./build.sh demo [SIMULATOR OPTIONS]).
set -euo pipefail
cd "$(dirname "$0")"

packages=(build-essential cmake ninja-build qt6-base-dev libjpeg-dev libgtest-dev libcli11-dev help2man xvfb xauth
          desktop-file-utils shared-mime-info appstream python3-debian)

source scripts/lib/packages.sh

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$(nproc)"
}

# The simulated board on a pseudo-terminal and the program with "COM 1" on
# it. Both work in build/demo: the file dialogs open there, the sample
# firmware lies there, and the board keeps what it was sent in board.tbl and
# its flash in board-flash.s28. Closing the program, or the program ending
# any other way, stops the board.
demo() {
    local dir=build/demo
    mkdir -p "$dir"
    cp samples/demo-firmware.s28 "$dir/"
    port_file=$(mktemp)
    program="" board=""
    # The program runs in the background and is waited for, so a signal to
    # this script stops both at once instead of waiting for the window.
    trap 'kill $program $board 2>/dev/null || true; wait 2>/dev/null || true; rm -f "$port_file"' EXIT
    build/bin/qm730sim --save "$dir/board.tbl" --flash-save "$dir/board-flash.s28" "$@" >"$port_file" &
    board=$!
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
    # The board's first line is its device.
    local tries=0
    until [ -s "$port_file" ]; do
        if ! kill -0 "$board" 2>/dev/null || [ $tries -ge 100 ]; then
            echo "$0: the simulated board did not start" >&2
            exit 1
        fi
        tries=$((tries + 1))
        sleep 0.1
    done
    local port
    port=$(head -n 1 "$port_file")
    if [[ "$port" != /dev/* ]]; then
        cat "$port_file"
        exit 0
    fi
    echo "Simulated board on $port, reached as \"COM 1\"; its doings follow here." >&2
    echo "S29 Mode: access code Hask_Tol; firmware to open: demo-firmware.s28" >&2
    (cd "$dir" && QM730C_COM1="$port" exec ../bin/qm730c) &
    program=$!
    local status=0
    wait "$program" || status=$?
    program=""
    return "$status"
}

case "${1:-}" in
    run)
        install_missing "${packages[@]}"
        build
        exec ./build/bin/qm730c
        ;;
    demo)
        shift
        install_missing "${packages[@]}"
        build
        demo "$@"
        ;;
    test)
        install_missing "${packages[@]}"
        build
        cd build
        # Three tests a core: most of them wait on a simulated board's
        # pauses and time-outs, not on the processor (the suite takes under
        # a minute of processor time in three of wall time).
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(($(nproc) * 3))"
        ;;
    *)
        echo "usage: $0 run|test|demo [SIMULATOR OPTIONS]" >&2
        exit 2
        ;;
esac
