#!/usr/bin/env bash
# Benchmarks the line work against the simulated board paced at 19200 baud,
# and the GUI's start-up:
#
#  - send, read, and flash of a firmware that fills the whole 128 KiB and of
#    one that fills 16 KiB, each as the ratio of the wall time to the time
#    the line and the deliberate pauses account for:
#
#        expected = (bytes to the board + bytes from the board) x 11 / 19200 s
#                   + the pauses during which the line is idle
#        ratio    = wall time / expected
#
#    A byte is 11 bits on the line (start bit, 8 data bits, 2 stop bits).
#    The simulated board counts the bytes that crossed its line in each
#    direction; the exchanges are question and answer, so the directions add
#    up. The pauses:
#      send:  200 ms after the logon answer, and 400 ms before the go-ahead
#             is read, less the 11 bytes of the service request and its
#             go-ahead that cross the line within those 400 ms:
#             0.600 - 11 x 11 / 19200 = 0.5937 s
#      read:  200 ms after the logon answer; the 50 ms pause after the
#             request runs while the frame is already on the line, so it
#             adds nothing: 0.200 s
#      flash: 100 ms after opening the port, and 1000 ms after each of the
#             two erases: 2.100 s
#  - the processor time (user + system) qm730ctl used, as a share of the wall
#    time. A send ends on the program's side as soon as the pseudo-terminal
#    has taken the upload (a pseudo-terminal reports nothing unsent), so its
#    wall time runs from starting qm730ctl until the board has taken the last
#    byte; the others are qm730ctl's own wall time, start-up included.
#  - the time from starting qm730c to its main window being mapped on an X
#    server (Xvfb, no window manager), seen as the MapNotify on the root
#    window; the median of at least 5 starts after one that fills the caches.
#
#   scripts/benchmark.sh [BUILD_DIR] [RUNS]        (default: build, 3 runs)
#
# Each line measurement is repeated RUNS times; the table gives the median
# run and the range of the ratios. A full flash takes about 2.6 minutes a
# run. The results are printed and written into the benchmark section of
# docs/benchmarks.md (BENCHMARK_OUT names another file); the rest of that
# file is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
runs=${2:-3}
case $build in /*) ;; *) build=$root/$build ;; esac
ctl=$build/bin/qm730ctl
sim=$build/bin/qm730sim
gui=$build/bin/qm730c
out=${BENCHMARK_OUT:-$root/docs/benchmarks.md}

# Run under xvfb-run by the main script: prints "SECONDS" per start-up.
if [ "${BENCHMARK_GUI_INNER:-}" = 1 ]; then
    work=$(mktemp -d)
    xev_pid=
    trap '[ -n "$xev_pid" ] && kill "$xev_pid" 2>/dev/null; rm -rf "$work"' EXIT
    mkfifo "$work/xev.fifo"
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done <"$work/xev.fifo" >"$work/xev.log" &
    stdbuf -oL xev -root -event substructure >"$work/xev.fifo" 2>/dev/null &
    xev_pid=$!
    sleep 1
    unset QT_QPA_PLATFORM
    # One start first: the font and shader caches are filled once per machine.
    starts=$((runs > 5 ? runs : 5))
    for run in $(seq 0 "$starts"); do
        before=$(grep -c '^[0-9.]* MapNotify' "$work/xev.log" || true)
        start=$EPOCHREALTIME
        "$gui" >/dev/null 2>&1 &
        gui_pid=$!
        for _ in $(seq 1500); do
            [ "$(grep -c '^[0-9.]* MapNotify' "$work/xev.log" || true)" -gt "$before" ] && break
            sleep 0.02
        done
        mapped=$(grep '^[0-9.]* MapNotify' "$work/xev.log" | sed -n "$((before + 1))p" | cut -d' ' -f1)
        window=$(grep -A1 '^[0-9.]* MapNotify' "$work/xev.log" | grep -o 'window 0x[0-9a-f]*, override' |
            sed -n "$((before + 1))p" | cut -d' ' -f2 | tr -d ,)
        title=$(xdotool getwindowname "$window" 2>/dev/null || echo "?")
        kill "$gui_pid" 2>/dev/null || true
        wait "$gui_pid" 2>/dev/null || true
        [ -n "$mapped" ] || { echo "qm730c showed no window within 30 s" >&2; exit 1; }
        case $title in *QM730C*) ;; *) echo "the window mapped first is '$title', not the main window" >&2; exit 1 ;; esac
        [ "$run" -gt 0 ] && awk -v a="$start" -v b="$mapped" 'BEGIN { printf "%.3f\n", b - a }'
        sleep 0.5
    done
    exit 0
fi

[ -x "$ctl" ] && [ -x "$sim" ] || { echo "build $ctl and $sim first (cmake --build $build)" >&2; exit 2; }
source "$root/scripts/lib/simulator.sh"

work=$(mktemp -d)
sim_pid=
cleanup() {
    sim_stop
    rm -rf "$work"
}
trap cleanup EXIT

load_average() { cut -d' ' -f1-3 /proc/loadavg; }
load_start=$(load_average)

"$ctl" new "$work/board.tbl"
make_firmware "$work/full.s19" 131070 7301
make_firmware "$work/16k.s19" 16384 7302
results=$work/results
: >"$results"

# run_ctl NAME COMMAND...: runs qm730ctl under the shell's timer; sets
# ctl_wall and ctl_cpu (user + system seconds). A failure ends the script.
run_ctl() {
    local name=$1
    shift
    local TIMEFORMAT='%R %U %S' status=0
    { time "$ctl" "$@" >"$work/$name.ctl.out" 2>"$work/$name.ctl.err"; } 2>"$work/$name.time" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "qm730ctl $* failed ($status):" >&2
        cat "$work/$name.ctl.err" "$sim_log" >&2
        exit 1
    fi
    read -r ctl_wall user sys <"$work/$name.time"
    ctl_cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')
}

# record KIND WALL FIXED: one measurement, with the stopped board's line bytes.
record() {
    local received sent
    read -r received sent <<<"$(sim_line_bytes)"
    [ -n "$sent" ] || { echo "the simulated board did not report its line bytes:" >&2; cat "$sim_log" >&2; exit 1; }
    echo "$1 $2 $3 $received $sent $ctl_cpu" >>"$results"
}

# The 1-minute load average before each measurement, to tell a quiet machine
# from a busy one.
loads=()
note_load() { loads+=("$(cut -d' ' -f1 /proc/loadavg)"); }

for run in $(seq "$runs"); do
    echo "run $run of $runs: send" >&2
    note_load
    sim_start send --pace --load "$work/board.tbl"
    start=$EPOCHREALTIME
    run_ctl send send --port "$sim_port" "$work/board.tbl"
    applied=$(sim_stamp "upload applied")
    sim_stop
    record send "$(awk -v a="$start" -v b="$applied" 'BEGIN { print b - a }')" 0.5937

    echo "run $run of $runs: read" >&2
    note_load
    sim_start read --pace --load "$work/board.tbl"
    run_ctl read read --port "$sim_port" "$work/read.tbl"
    sim_stop
    cmp -s "$work/read.tbl" "$work/board.tbl" || { echo "the table read differs from the board's" >&2; exit 1; }
    record read "$ctl_wall" 0.2

    for size in full 16k; do
        echo "run $run of $runs: flash $size" >&2
        note_load
        sim_start "flash-$size" --pace
        run_ctl "flash-$size" flash --port "$sim_port" "$work/$size.s19"
        sim_stop
        record "flash-$size" "$ctl_wall" 2.1
    done
done

gui_result="not measured: no GUI in $build"
if [ -x "$gui" ]; then
    if command -v xvfb-run >/dev/null && command -v xev >/dev/null && command -v xdotool >/dev/null; then
        echo "GUI start-up under Xvfb" >&2
        BENCHMARK_GUI_INNER=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$root/scripts/benchmark.sh" "$build" "$runs" \
            >"$work/gui"
        gui_result=$(sort -n "$work/gui" | awk '{ t[NR] = $1 } END {
            printf "%.0f ms (median of %d; %.0f to %.0f ms)", 1000 * t[int((NR + 1) / 2)], NR, 1000 * t[1], 1000 * t[NR] }')
    else
        gui_result="not measured: needs xvfb-run, xev (x11-utils) and xdotool"
    fi
fi
load_end=$(load_average)

# The table: per kind, the median run by ratio and the range of the ratios.
table=$(awk -v baud=19200 '
    function label(k) {
        if (k == "send") return "send (28,522-byte stream)"
        if (k == "read") return "read (8,846-byte frame)"
        if (k == "flash-full") return "flash, 128 KiB firmware (64 blocks)"
        return "flash, 16 KiB firmware (9 blocks)"
    }
    {
        k = $1; n = ++count[k]
        wire = ($4 + $5) * 11 / baud
        ratio[k, n] = $2 / (wire + $3); wall[k, n] = $2; fixed[k] = $3
        rx[k] = $4; tx[k] = $5; cpu[k, n] = $6
        if (!(k in seen)) { seen[k] = 1; order[++kinds] = k }
    }
    END {
        print "| Measurement | Bytes to / from the board | Line time | Idle pauses | Wall time | Ratio (median; range) | Processor share |"
        print "|---|---|---|---|---|---|---|"
        for (i = 1; i <= kinds; i++) {
            k = order[i]; n = count[k]
            # Sort the runs by ratio (few runs: insertion sort).
            for (a = 1; a <= n; a++) idx[a] = a
            for (a = 2; a <= n; a++) for (b = a; b > 1 && ratio[k, idx[b]] < ratio[k, idx[b - 1]]; b--) {
                t = idx[b]; idx[b] = idx[b - 1]; idx[b - 1] = t }
            m = idx[int((n + 1) / 2)]
            wire = (rx[k] + tx[k]) * 11 / baud
            printf "| %s | %d / %d | %.3f s | %.4f s | %.3f s | %.4f (%.4f to %.4f) | %.2f%% |\n",
                label(k), rx[k], tx[k], wire, fixed[k], wall[k, m], ratio[k, m], ratio[k, idx[1]], ratio[k, idx[n]],
                100 * cpu[k, m] / wall[k, m]
        }
    }' "$results")

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
{
    echo "## Line work and start-up (\`scripts/benchmark.sh\`)"
    echo
    echo "Measured on $(date -u +%Y-%m-%d) at commit $commit (build type ${build_type:-unknown}),"
    echo "$runs runs each, on $(nproc) cores of $cpu_model shared with other work;"
    echo "load average (1, 5, 15 min) $load_start at the start, $load_end at the end; the"
    echo "1-minute load average before each measurement ranged from $(printf '%s\n' "${loads[@]}" | sort -n | head -n 1) to $(printf '%s\n' "${loads[@]}" | sort -n | tail -n 1)."
    echo
    echo "$table"
    echo
    echo "GUI start-up, qm730c started until its main window is mapped (Xvfb, no"
    echo "window manager, after one start that fills the caches): $gui_result."
} >"$work/section"
write_section "$out" benchmark "$work/section"
cat "$work/section"
