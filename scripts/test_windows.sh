#!/usr/bin/env bash
# Cross-builds the Windows programs with MinGW-w64, the window against Qt for
# Windows (scripts/build_qt_windows.sh builds it once into a cache outside the
# tree), and tests them under Wine:
#  1. the Windows test programs through ctest (pure core, table and firmware
#     files on Win32, frames, upload blocks, the transfer protocol, and the
#     widget tests that need no pseudo-terminal, offscreen);
#  2. the Win32 serial layer, qm730ctl.exe and the window's Transfer, Read,
#     Write and P-Link against the Linux simulated board: Wine's COM ports
#     are linked to the simulator's pseudo-terminal;
#  3. the release archive (scripts/package_windows.sh), from the same build;
#  4. the window from the unpacked archive on Wine's own window system in a
#     virtual X display: found by its caption, photographed, one Transfer
#     driven from the keyboard; the screenshots stay in build-win/screenshots.
#
# Usage: scripts/test_windows.sh [LINUX_BUILD_DIR]
# The simulator comes from the Linux build (default: build, as ./build.sh
# makes it); it is built there first if it is missing. Installs what it
# needs with apt-get. The Windows build goes to build-win, Wine's prefix to
# build-win/wineprefix (kept between runs; QM730_WINEPREFIX overrides).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake ninja-build g++-mingw-w64-x86-64 wine64 googletest libcli11-dev xvfb xauth xdotool imagemagick openbox)

source scripts/lib/packages.sh

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }

step "packages"
install_missing "${packages[@]}"

linux_build=${1:-build}
sim=$root/$linux_build/bin/qm730sim
linux_ctl=$root/$linux_build/bin/qm730ctl  # what qm730ctl.exe's reports are compared with
if [ ! -x "$sim" ] || [ ! -x "$linux_ctl" ]; then
    step "simulated board and qm730ctl (Linux)"
    cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$linux_build" -j "$(nproc)" --target qm730sim qm730ctl
fi

step "Qt for Windows"
qt=$(scripts/build_qt_windows.sh --print-prefix)

step "cross-build"
win_build=$root/build-win
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$qt" >/dev/null
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
# COM1..COM4 name links of our own, which each test points at a board.
mkdir -p "$lines"
{
    printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in 1 2 3 4; do printf '"COM%s"="%s"\n' "$n" "$lines/com$n"; done
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

# qm730ctl.exe as an operator runs it, from the folder with the files.
# Arguments reach Wine as UTF-8 (C.UTF-8), so names outside every Windows
# code page show whether the program reads its wide command line.
run_ctl() {  # run_ctl ARGS...: sets ctl_status, ctl_out and ctl_err (without CR)
    ctl_status=0
    (cd "$work" && LC_ALL=C.UTF-8 timeout 120 "$wine" "$bin/qm730ctl.exe" "$@") \
        </dev/null >"$work/ctl.out" 2>"$work/ctl.err" || ctl_status=$?
    ctl_out=$(tr -d '\r' <"$work/ctl.out")
    ctl_err=$(tr -d '\r' <"$work/ctl.err")
}
expect_ctl() {  # expect_ctl STATUS STDOUT STDERR ARGS...: exactly this status and output
    local status=$1 out=$2 err=$3
    shift 3
    run_ctl "$@"
    [ "$ctl_status" = "$status" ] && [ "$ctl_out" = "$out" ] && [ "$ctl_err" = "$err" ] && return 0
    printf 'qm730ctl.exe %s\n  status %s, wanted %s\n  stdout: %s\n  wanted: %s\n  stderr: %s\n  wanted: %s\n' \
        "$*" "$ctl_status" "$status" "$ctl_out" "$out" "$ctl_err" "$err"
    return 1
}

step "qm730ctl.exe against the simulated board"
table="Ωμέγα 表.tbl"  # in no Windows code page
printf 'S00F000068656C6C6F202020202000003C\nS2140D0000000102030405060708090A0B0C0D0E0F66\n' >"$work/demo.s19"
start_board --save "$work/board.tbl" --flash-save "$work/flash.bin"
link_port 1 "$board_pty"
# The boards that refuse: the upload, the erase and every probe (COM4); the
# download's checksum (COM3).
start_board --refuse --refuse-flash erase --ignore-probes 1000000
link_port 4 "$board_pty"
start_board --bad-checksum
link_port 3 "$board_pty"

# A table with a pager of its own (address and name), sent and read back.
new_table() {
    expect_ctl 0 "" "" new "$table" || return 1
    printf '1234567' | dd of="$work/$table" bs=1 seek=$((0x60)) conv=notrunc status=none
    printf 'WINE TEST1' | dd of="$work/$table" bs=1 seek=$((0x6B)) conv=notrunc status=none
    [ "$(stat -c %s "$work/$table")" = 40959 ]
}
check "new: a table file under a name in no code page" new_table
same_dump() {
    run_ctl dump "$table"
    [ "$ctl_status" = 0 ] && [ "$ctl_out" = "$("$linux_ctl" dump "$work/$table")" ]
}
check "dump: the same report as on Linux" same_dump
# The pager table as CSV: the same bytes as on Linux (CR LF kept) to standard
# output and to a file, and taken back from standard input into a new table.
pagers_csv() {
    "$linux_ctl" pagers export "$work/$table" >"$work/linux.csv"
    run_ctl pagers export "$table"
    [ "$ctl_status" = 0 ] && cmp "$work/linux.csv" "$work/ctl.out" || return 1
    expect_ctl 0 "" "" pagers export "$table" "Ωμέγα.csv" && cmp "$work/linux.csv" "$work/Ωμέγα.csv" || return 1
    expect_ctl 0 "" "" new "Ωμέγα 2.tbl" || return 1
    (cd "$work" && LC_ALL=C.UTF-8 timeout 120 "$wine" "$bin/qm730ctl.exe" pagers import -q "Ωμέγα 2.tbl" -) \
        <"$work/linux.csv" || return 1
    "$linux_ctl" new "$work/linux.tbl" && "$linux_ctl" pagers import -q "$work/linux.tbl" "$work/linux.csv" &&
        cmp "$work/linux.tbl" "$work/Ωμέγα 2.tbl"
}
check "pagers: the CSV table out and back in" pagers_csv
# Options begin with '-': a name that begins with '/' (a full name on the
# current drive) is a file, never a Windows-style option.
slash_name() {
    expect_ctl 0 "" "" new "$work/slash.tbl" && [ "$(stat -c %s "$work/slash.tbl")" = 40959 ]
}
check "new: a name that begins with / is a file, not an option" slash_name
# Two programs setting different settings of one file at the same moment
# take turns: both changes are in the file every time.
two_writers() {
    local trial first second
    for trial in 1 2 3 4 5; do
        "$linux_ctl" new "$work/turns.tbl"
        (cd "$work" && exec "$wine" "$bin/qm730ctl.exe" set -q turns.tbl Delay_byte_1=7) </dev/null >/dev/null 2>"$work/w1.err" &
        first=$!
        (cd "$work" && exec "$wine" "$bin/qm730ctl.exe" set -q turns.tbl Delay_byte_2=9) </dev/null >/dev/null 2>"$work/w2.err" &
        second=$!
        wait "$first" && wait "$second" || { cat "$work/w1.err" "$work/w2.err"; return 1; }
        [ "$("$linux_ctl" get -n "$work/turns.tbl" Delay_byte_1 Delay_byte_2 | tr '\n' ' ')" = "7 9 " ] ||
            { echo "trial $trial: a change was lost"; return 1; }
    done
}
check "set: two programs changing one file at once take turns" two_writers
send_table() {
    expect_ctl 0 "Transfer Success !" "" send -p COM1 "$table" || return 1
    wait_for_file "$work/board.tbl" && cmp "$work/$table" "$work/board.tbl"
}
check "send: the board holds the table file" send_table
read_table() {
    expect_ctl 0 "Read Success !" "" read --port com1 copy.tbl && cmp "$work/board.tbl" "$work/copy.tbl"
}
check "read: the file read equals the board's image" read_table
check "probe: the flash loader answers" expect_ctl 0 "Connection Success !" "" probe -p COM1 --timeout 5
flash_demo() {
    expect_ctl 0 "Transmit Success!" "" flash -p COM1 demo.s19 || return 1
    # The whole flash (D0000..EFFFF): the firmware's bytes, erased (FF)
    # elsewhere, and the image's additive checksum (EE8A) in the last two bytes.
    {
        printf '\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f'
        head -c $((0x20000 - 18)) /dev/zero | tr '\0' '\377'
        printf '\x8a\xee'
    } >"$work/demo.bin"
    cmp "$work/demo.bin" "$work/flash.bin"
}
check "flash: the board's flash holds the firmware" flash_demo

check "send: a refused upload fails in one line" expect_ctl 1 "" \
    "qm730ctl: send on COM4: the board answered NAK CR instead of the go-ahead" send -p COM4 "$table"
read_refused() {
    expect_ctl 1 "" "qm730ctl: read on COM3: the configuration from the board has a wrong checksum" \
        read -p COM3 refused.tbl && [ ! -e "$work/refused.tbl" ]
}
check "read: a wrong checksum fails in one line, writes nothing" read_refused
check "flash: a refused erase fails in one line" expect_ctl 1 "" \
    "qm730ctl: flash on COM4: the board refused the erase of D0000" flash -p COM4 demo.s19
check "probe: a silent flash loader fails in one line" expect_ctl 1 "" \
    "qm730ctl: probe on COM4: no answer from the board's flash loader (1 probe)" probe -p COM4 --timeout 0
ports_refused() {
    # Any COMn is a Windows port; one that is missing says so in the system's words.
    run_ctl send -p COM12 "$table"
    [ "$ctl_status" = 1 ] && [[ "$ctl_err" == "qm730ctl: send on COM12: cannot open the port: "* ]] || return 1
    expect_ctl 1 "" 'qm730ctl: send on \\.\NUL: cannot open the port: not a serial port' \
        send -p '\\.\NUL' "$table" || return 1
    expect_ctl 2 "" "qm730ctl: send: --port: 'COM 1' is not a port: use COM1 to COM5, another COMn or a device path such as \\\\.\\COM12
Try 'qm730ctl help send' for more information." send -p 'COM 1' "$table"
}
check "ports: a missing port, NUL and a name that is no port" ports_refused
ports_listed() {
    # What Wine's device map holds: COM1 to COM5 (no USB adapters under Wine).
    run_ctl ports
    [ "$ctl_status" = 0 ] && [[ "$ctl_out" == COM1*COM5* ]] || return 1
    run_ctl ports --json
    [ "$ctl_status" = 0 ] && [[ "$ctl_out" == *'"port": "COM1"'* ]]
}
check "ports: the serial ports Windows knows of, as lines and as JSON" ports_listed
# In a console window (Wine makes one on a terminal: script(1) gives it
# one): the progress bar is drawn, and text reaches the console as Unicode.
in_console() {  # in_console ARGS...: what the console shows, without its control sequences
    (cd "$work" && LC_ALL=C.UTF-8 timeout 120 script -qec "$(printf '%q ' "$wine" "$bin/qm730ctl.exe" "$@")" /dev/null) \
        </dev/null | sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' | tr '\r' '\n'
}
console() {
    local shown
    shown=$(in_console send -p COM1 "$table")
    grep -qx 'sending \[#*\] 100%' <<<"$shown" && grep -qx 'Transfer Success !' <<<"$shown" || { echo "$shown"; return 1; }
    shown=$(in_console dump "missing/$table")
    grep -q "missing/Ωμέγα" <<<"$shown" || { echo "$shown"; return 1; }
}
check "console: the progress bar, and names in Unicode" console
# Ctrl+C while qm730ctl.exe reads from a board at the real line speed (the
# configuration takes 5 s to arrive): the port's settings are back, no file
# is written and no success is claimed.
ctl_interrupted() {
    start_board --pace
    link_port 2 "$board_pty"
    stty -F "$board_pty" 4800
    # Not under timeout(1): it would pass the interrupt to its whole process group.
    (cd "$work" && LC_ALL=C.UTF-8 exec "$wine" "$bin/qm730ctl.exe" read -p COM2 interrupted.tbl) \
        </dev/null >"$work/int.out" 2>"$work/int.err" &
    local ctl_pid=$!
    (sleep 120 && kill -KILL "$ctl_pid" 2>/dev/null) &
    local watchdog=$!
    local configured=no
    for _ in $(seq 300); do
        [ "$(speed_of "$board_pty")" = 19200 ] && configured=yes && break
        sleep 0.1
    done
    [ "$configured" = yes ] || { echo "qm730ctl.exe did not set 19200 baud"; kill -KILL "$ctl_pid"; return 1; }
    sleep 1  # the transfer under way
    kill -INT "$ctl_pid"
    local status=0
    wait "$ctl_pid" || status=$?
    kill "$watchdog" 2>/dev/null || true
    echo "exit status $status, speed now $(speed_of "$board_pty"), stdout: $(tr -d '\r' <"$work/int.out")"
    [ "$status" -ne 137 ] && [ ! -s "$work/int.out" ] && [ ! -e "$work/interrupted.tbl" ] &&
        [ "$(speed_of "$board_pty")" = 4800 ]
}
check "read: Ctrl+C puts the port's settings back, writes nothing" ctl_interrupted

# The window's operations on a Windows port (tests/gui/com_board_test.cpp),
# offscreen, with the board behind COM2: what the board holds afterwards is
# read from its files through Wine's drive Z:.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
window_on_com() {
    start_board --save "$work/window-board.tbl" --flash-save "$work/window-flash.bin"
    link_port 2 "$board_pty"
    GTEST_FILTER='BoardOnComPort.*' QM730_TEST_BOARD_PORT=COM2 \
        QM730_TEST_BOARD_TABLE="$(winpath "$work/window-board.tbl")" \
        QM730_TEST_BOARD_FLASH="$(winpath "$work/window-flash.bin")" \
        ctest --test-dir "$win_build" -R '^gui_tests$' -V >"$work/window-tests.out" 2>&1
    local status=$?
    cat "$work/window-tests.out"
    # Both ran, neither skipped for want of a board.
    [ "$status" = 0 ] && grep -q '\[  PASSED  \] 2 tests\.' "$work/window-tests.out" &&
        ! grep -q 'SKIPPED' "$work/window-tests.out"
}
step "the window against the simulated board"
check "window: Transfer, Read, Write and P-Link on COM2" window_on_com

step "release archive"
check "release archive: both programs start from the unpacked folder" scripts/package_windows.sh
archive=$(tail -n 1 "$work/out" | tr -d '\r')

# The window as an operator sees it: Wine's own window system on a virtual X
# display, the program from the unpacked archive with nothing on the path.
# Wine's desktop takes its display driver when the server starts, so the
# server starts again on the display. Compare the screenshots with the
# program on Linux under the same window manager (fonts, sizes, layout).
step "the window on screen (Xvfb)"
shots=$win_build/screenshots
on_screen() {
    [ -f "$archive" ] || { echo "no archive: $archive"; return 1; }
    local release=$work/release
    mkdir -p "$release" "$shots"
    (cd "$release" && cmake -E tar xf "$archive")
    local folder
    folder=$(find "$release" -mindepth 1 -maxdepth 1 -type d)
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
    sims+=("$!")
    wait_for_file "$work/display" || { echo "Xvfb did not start"; return 1; }
    export DISPLAY=:$(head -n 1 "$work/display")
    # A window manager, as on a desktop: without one the maximised window
    # keeps its first size on the display while Windows lays it out for the
    # whole screen.
    openbox </dev/null >/dev/null 2>&1 &
    sims+=("$!")
    setsid "$wineserver" -p </dev/null >/dev/null 2>&1
    start_board --save "$work/screen-board.tbl"
    link_port 1 "$board_pty"
    # A first start, as from a fresh archive: no port remembered from before.
    "$wine" reg delete 'HKCU\Software\QM730C' /f >/dev/null 2>&1 || true
    (cd "$folder" && exec env -u WINEPATH -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM "$wine" ./qm730c.exe) \
        </dev/null >"$work/window.log" 2>&1 &
    local program=$!
    (sleep 180 && kill -KILL "$program" 2>/dev/null) &
    local watchdog=$!
    local window
    window=$(timeout 120 xdotool search --sync --name '^QM730C  --  Corvane$' | head -n 1)
    [ -n "$window" ] || { echo "no window captioned 'QM730C  --  Corvane'"; cat "$work/window.log"; return 1; }
    sleep 2  # painted
    import -window root "$shots/window.png"
    # "ToFlash" > "Transfer" from the keyboard: Alt puts the menu bar in
    # keyboard mode on "File", Right moves to "ToFlash", Down opens it on
    # its first item, Return chooses "Transfer".
    xdotool windowfocus --sync "$window"
    for key in alt Right Down Return; do
        xdotool key "$key"
        sleep 0.5
    done
    wait_for_file "$work/screen-board.tbl" || { echo "the board got no table"; import -window root "$shots/transfer.png"; return 1; }
    local dialog
    dialog=$(timeout 30 xdotool search --sync --name 'Trandfer Data to Flash' | head -n 1)
    sleep 2  # the result painted
    import -window root "$shots/transfer.png"
    echo "screenshots: $shots/window.png, $shots/transfer.png"
    [ -n "$dialog" ] || { echo "no transfer dialog"; return 1; }
    # OK has the focus; Alt+F4 then closes the window, and the program ends.
    xdotool key Return
    sleep 0.5
    xdotool windowfocus --sync "$window" key alt+F4
    local status=0
    wait "$program" || status=$?
    kill "$watchdog" 2>/dev/null || true
    echo "qm730c.exe ended with status $status"
    [ "$status" = 0 ] && "$linux_ctl" new "$work/default.tbl" && cmp "$work/default.tbl" "$work/screen-board.tbl"
}
check "window: shown on screen, one Transfer driven from the keyboard" on_screen

echo
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
