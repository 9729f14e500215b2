#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64 and tests them under Wine:
#  1. the Windows test programs through ctest (pure core, table and firmware
#     files on Win32, frames, upload blocks, the transfer protocol);
#  2. the Win32 serial layer and qm730ctl.exe against the Linux simulated
#     board: Wine's COM ports are linked to the simulator's pseudo-terminal.
#
# Usage: scripts/test_windows.sh [LINUX_BUILD_DIR]
# The simulator comes from the Linux build (default: build, as ./build.sh
# makes it); it is built there first if it is missing. Installs what it
# needs with apt-get. The Windows build goes to build-win, Wine's prefix to
# build-win/wineprefix (kept between runs; QM730_WINEPREFIX overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake ninja-build g++-mingw-w64-x86-64 wine64 googletest)

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

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }

step "packages"
install_missing

linux_build=${1:-build}
sim=$root/$linux_build/bin/qm730sim
if [ ! -x "$sim" ]; then
    step "simulated board (Linux)"
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux_build" -j "$(nproc)" --target qm730sim
fi

step "cross-build"
win_build=$root/build-win
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$win_build" -j "$(nproc)"
bin=$win_build/bin

step "Wine prefix"
export WINEPREFIX=${QM730_WINEPREFIX:-$win_build/wineprefix}
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and there is nothing to fetch them from.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
lines=$WINEPREFIX/qm730-lines
work=$(mktemp -d)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    "$wineserver" -w
fi
# Wine makes its COM links afresh whenever it starts, from the registry:
# COM1..COM3 name links of our own, which each test points at a board.
mkdir -p "$lines"
{
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in 1 2 3; do printf '"COM%s"="%s"\n' "$n" "$lines/com$n"; done
} >"$work/ports.reg"
"$wine" regedit /S "$(printf 'Z:%s' "$work/ports.reg" | tr / '\\')" >/dev/null 2>&1
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w
# One server for the whole run: each program then starts in a fraction of a
# second. Its helper processes start with the first program; they must not
# inherit a test's output, or whoever reads it (ctest) waits for them.
# In a session of its own, so that an interrupt sent to a test's process
# group cannot reach it.
setsid "$wineserver" -p </dev/null >/dev/null 2>&1
"$wine" cmd /c exit </dev/null >/dev/null 2>&1

step "Windows test programs"
# One at a time: they take well under a second each, and two programs that
# start Wine's helper processes together have been seen to leave ctest waiting.
ctest --test-dir "$win_build" --output-on-failure -j 1

passed=0
failed=0
check() {  # check NAME COMMAND...: one line check, counted
    local name=$1
    shift
    if "$@" >"$work/out" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $name"
    else
        failed=$((failed + 1))
        echo "FAIL  $name"
        sed 's/^/      /' "$work/out"
    fi
}

# Starts a simulated board with the given options; sets board_pty and board_pid.
start_board() {
    local out=$work/board$RANDOM
    "$sim" "$@" >"$out" 2>"$out.err" &
    board_pid=$!
    sims+=("$board_pid")
    for _ in $(seq 100); do
        board_pty=$(head -n 1 "$out" 2>/dev/null || true)
        [ -n "$board_pty" ] && return 0
        sleep 0.1
    done
    echo "the simulated board did not start" >&2
    cat "$out.err" >&2
    return 1
}

link_port() { ln -sfn "$2" "$lines/com$1"; }

wait_for_file() {
    for _ in $(seq 600); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

speed_of() { stty -F "$1" speed; }

step "serial layer against the simulated board"
start_board
link_port 1 "$board_pty"
check "serial layer: exchange, waits, purges, settings put back" \
    env QM730_TEST_LINE=COM1 timeout 120 "$wine" "$bin/serial_w32_tests.exe" --gtest_filter='WineLine.*'

# A line whose far end goes away: the board is stopped while the program waits.
hang_up() {
    start_board
    link_port 2 "$board_pty"
    local mark=$work/hangup.mark
    QM730_TEST_HANGUP_LINE=COM2 QM730_TEST_MARK=$mark timeout 120 \
        "$wine" "$bin/serial_w32_tests.exe" --gtest_filter='WineLineEnds.LineThatHangsUp*' &
    local test_pid=$!
    wait_for_file "$mark" || { kill "$test_pid"; return 1; }
    kill "$board_pid"
    wait "$test_pid"
}
check "serial layer: a line that hangs up fails as a hang-up" hang_up

# Ctrl+C (SIGINT, which Wine hands to the console control handlers) while a
# port is open: the settings it had before are back, the program has ended.
interrupt() {
    start_board
    link_port 3 "$board_pty"
    stty -F "$board_pty" 4800
    local mark=$work/hold.mark
    # Not under timeout(1): it would pass the interrupt to its whole process
    # group, Wine's server included.
    QM730_TEST_HOLD_LINE=COM3 QM730_TEST_MARK=$mark \
        "$wine" "$bin/serial_w32_tests.exe" --gtest_filter='WineLineEnds.PortHeldUntilInterrupted' &
    local test_pid=$!
    (sleep 120 && kill -KILL "$test_pid" 2>/dev/null) &
    local watchdog=$!
    wait_for_file "$mark" || { kill "$test_pid"; return 1; }
    [ "$(speed_of "$board_pty")" = 19200 ] || { echo "the program did not set 19200 baud"; kill "$test_pid"; return 1; }
    kill -INT "$test_pid"
    local status=0
    wait "$test_pid" || status=$?
    kill "$watchdog" 2>/dev/null || true
    echo "exit status $status, speed now $(speed_of "$board_pty")"
    # Ended by the interrupt (Wine's default handling exits with 0), neither
    # by the watchdog nor by the test giving up; the settings are back.
    [ "$status" -ne 137 ] && ! grep -q "no interrupt came" "$work/out" && [ "$(speed_of "$board_pty")" = 4800 ]
}
check "serial layer: an interrupt puts the port's settings back" interrupt

echo
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
