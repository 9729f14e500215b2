#!/usr/bin/env bash
# Benchmarks the line work against the simulated board paced at 19200 baud
# (11 bits a byte, both directions), and the GUI's start-up:
#
#  - send, read, and flash of a firmware that fills the whole 128 KiB and of
#    one that fills 16 KiB, each as the ratio of the wall time to the time
#    the line and the protocol's fixed delays account for. The line time
#    counts every byte that crossed the line in either direction, as the
#    simulated board counted them (the exchanges are strictly question and
#    answer, so the two directions add up). The fixed delays: 200 + 400 ms
#    for a send, 200 + 50 ms for a read, 100 ms after opening the port and
#    two erase pauses of 1000 ms for a flash.
#  - the processor time qm730ctl used, as a share of the wall time. A send
#    ends on the program's side as soon as the pseudo-terminal has taken the
#    upload (a pseudo-terminal reports nothing unsent), so its wall time runs
#    until the board has taken the last byte.
#  - the time from starting qm730c to its main window being mapped on an
#    X server (Xvfb, no window manager), seen as the MapNotify on the root
#    window.
#
#   scripts/benchmark.sh [BUILD_DIR] [RUNS]        (default: build, 3 runs)
#
# Each measurement is repeated RUNS times; the table gives the median and the
# range. It is printed and written to docs/benchmarks.md (BENCHMARK_OUT names
# another file). A full flash takes about 2.5 minutes a run.
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
    for run in $(seq 0 "$runs"); do
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

for run in $(seq "$runs"); do
    echo "run $run of $runs: send" >&2
    sim_start send --pace --load "$work/board.tbl"
    start=$EPOCHREALTIME
    run_ctl send send --port "$sim_port" "$work/board.tbl"
    applied=$(sim_stamp "upload applied")
    sim_stop
    record send "$(awk -v a="$start" -v b="$applied" 'BEGIN { print b - a }')" 0.6

    echo "run $run of $runs: read" >&2
    sim_start read --pace --load "$work/board.tbl"
    run_ctl read read --port "$sim_port" "$work/read.tbl"
    sim_stop
    cmp -s "$work/read.tbl" "$work/board.tbl" || { echo "the table read differs from the board's" >&2; exit 1; }
    record read "$ctl_wall" 0.25

    for size in full 16k; do
        echo "run $run of $runs: flash $size" >&2
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
        print "| Measurement | Bytes to / from the board | Line time | Fixed delays | Wall time | Ratio (median, range) | Processor share |"
        print "|---|---|---|---|---|---|---|"
        for (i = 1; i <= kinds; i++) {
            k = order[i]; n = count[k]
            # Sort the runs by ratio (few runs: insertion sort).
            for (a = 1; a <= n; a++) idx[a] = a
            for (a = 2; a <= n; a++) for (b = a; b > 1 && ratio[k, idx[b]] < ratio[k, idx[b - 1]]; b--) {
                t = idx[b]; idx[b] = idx[b - 1]; idx[b - 1] = t }
            m = idx[int((n + 1) / 2)]
            wire = (rx[k] + tx[k]) * 11 / baud
            printf "| %s | %d / %d | %.3f s | %.3f s | %.3f s | %.4f (%.4f to %.4f) | %.2f%% |\n",
                label(k), rx[k], tx[k], wire, fixed[k], wall[k, m], ratio[k, m], ratio[k, idx[1]], ratio[k, idx[n]],
                100 * cpu[k, m] / wall[k, m]
        }
    }' "$results")

build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
cpu_model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
mkdir -p "$(dirname "$out")"
{
    echo "# Benchmarks"
    echo
    echo "Measured by \`scripts/benchmark.sh\` on $(date -u +%Y-%m-%d) at commit $commit (build type"
    echo "${build_type:-unknown}), $runs runs each, on $(nproc) cores of $cpu_model;"
    echo "load average $load_start at the start, $load_end at the end."
    echo
    echo "Against the simulated board paced at 19200 baud, 11 bits a byte both ways."
    echo "Line time: the bytes that crossed the line in both directions (the"
    echo "simulated board counts them) at 11/19200 s each; the exchanges are strictly"
    echo "question and answer, so the directions add up. Fixed delays: 200 + 400 ms"
    echo "(send), 200 + 50 ms (read), 100 ms after opening the port and 2 x 1000 ms"
    echo "erase pauses (flash). Ratio: wall time / (line time + fixed delays). Processor"
    echo "share: user + system time of qm730ctl / wall time. A send's wall time runs"
    echo "until the board has taken the last byte (qm730ctl ends earlier on a"
    echo "pseudo-terminal, which reports nothing unsent); the others are qm730ctl's"
    echo "own wall time, start-up included. The run shown is the median by ratio."
    echo
    echo "$table"
    echo
    echo "GUI start-up (qm730c started until its main window is mapped, under Xvfb"
    echo "without a window manager, after one start that fills the caches):"
    echo "$gui_result."
    echo
    echo "Reproduce: \`cmake -S . -B build -G Ninja && cmake --build build && scripts/benchmark.sh build\`"
    echo "(the GUI start-up needs xvfb-run, xev from x11-utils and xdotool)."
} >"$out"
cat "$out"
