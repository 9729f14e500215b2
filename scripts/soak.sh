#!/usr/bin/env bash
# A long run: CYCLES back-to-back cycles of send, read and flash against the
# simulated board, a tenth of them (at random places) against a board with a
# fault. Two rounds:
#
#  1. qm730ctl, one process per operation, as a script or an operator runs
#     it. A long-lived healthy board serves the healthy cycles; each faulty
#     cycle gets a fresh board with one fault chosen at random. Watched: every
#     operation ends as expected (healthy: all succeed, the table read back is
#     the table sent; faulty: the operations the fault hits fail with status 1,
#     the others succeed) within BOUND seconds; the healthy board's open
#     descriptors and resident memory from cycle to cycle; qm730ctl's peak
#     memory per operation.
#  2. qm730soak: the same cycles in one long-lived process (one serial-port
#     object and one link state for the whole run, as the windowed program
#     keeps them), against a fresh healthy board and one board per fault.
#     Watched: the same outcomes and bound, and the process's own open
#     descriptors and resident memory after every cycle.
#
# The boards run unpaced (as fast as the pseudo-terminal goes): a paced cycle
# takes about 3 minutes, most of it the flash; the pacing is measured by
# scripts/benchmark.sh.
#
#   scripts/soak.sh [BUILD_DIR] [CYCLES]        (default: build, 200)
#
# SOAK_SEED (default 1) chooses the faulty cycles and their faults; SOAK_BOUND
# (default 30) is the longest an operation may take, in seconds. Writes its
# summary into the long-run section of docs/benchmarks.md (SOAK_OUT names
# another file; the rest of the file is kept) and ends with status 1 when a
# cycle went wrong or something grew.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
cycles=${2:-200}
seed=${SOAK_SEED:-1}
bound=${SOAK_BOUND:-30}
case $build in /*) ;; *) build=$root/$build ;; esac
ctl=$build/bin/qm730ctl
sim=$build/bin/qm730sim
soak=$build/bin/qm730soak
out=${SOAK_OUT:-$root/docs/benchmarks.md}
for program in "$ctl" "$sim" "$soak"; do
    [ -x "$program" ] || { echo "build $program first (cmake --build $build)" >&2; exit 2; }
done
source "$root/scripts/lib/simulator.sh"

work=$(mktemp -d)
sim_pid=
healthy=()
cleanup() {
    sim_stop
    if [ ${#healthy[@]} -gt 0 ]; then
        read -r sim_pid sim_stamper sim_log <<<"${healthy[*]}"
        sim_stop
    fi
    rm -rf "$work"
}
trap cleanup EXIT

RANDOM=$seed
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
started=$EPOCHREALTIME

"$ctl" new "$work/base.tbl"
make_firmware "$work/a.s19" 131070 $((seed * 2 + 1))
make_firmware "$work/b.s19" 131070 $((seed * 2 + 2))

# A fault for the board, chosen at random, and how it leaves the three
# operations: o succeeds, x fails.
fault_args=()
fault_label=
fault_expect=
choose_fault() {
    local commands=(check erase write read)
    case $((RANDOM % 11)) in
        0) fault_args=(--silent) fault_expect=xxx ;;
        1) fault_args=(--wrong-answer) fault_expect=xxo ;;
        2) fault_args=(--refuse) fault_expect=xoo ;;
        3) fault_args=(--bad-checksum) fault_expect=oxo ;;
        4) fault_args=(--stop-after $((RANDOM % 8846))) fault_expect=oxo ;;
        5) fault_args=(--refuse-flash "${commands[RANDOM % 4]}") fault_expect=oox ;;
        6) fault_args=(--corrupt-readback $((RANDOM % 64))) fault_expect=oox ;;
        # A full write is 131 frames: check, 2 erases, 64 writes, 64 reads.
        7) fault_args=(--stop-after-frames $((RANDOM % 131))) fault_expect=oox ;;
        8) fault_args=(--erase-delay 6000) fault_expect=oox ;;
        9) fault_args=(--cut-reply $((RANDOM % 2000))) fault_expect=oox ;;
        10) fault_args=(--noise-before-reply $((1 + RANDOM % 16))) fault_expect=oox ;;
    esac
    fault_label=${fault_args[*]}
}

# A table with 8 pager records and 8 messages that the board sends back
# filled with random bytes, so that a stale read shows.
make_table() {
    cp "$work/base.tbl" "$1"
    local n
    for n in 1 2 3 4 5 6 7 8; do
        dd if=/dev/urandom of="$1" bs=1 seek=$((0x60 + 32 * (RANDOM % 99))) count=22 conv=notrunc status=none
        dd if=/dev/urandom of="$1" bs=1 seek=$((0x7F20 + 64 * (RANDOM % 99))) count=60 conv=notrunc status=none
    done
}

# Open descriptors and resident KiB of a process.
descriptors() { ls "/proc/$1/fd" | wc -l; }
resident() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

# The faulty cycles: a tenth, at random places.
faulty=$(seq "$cycles" | awk -v seed="$seed" -v n="$cycles" 'BEGIN { srand(seed) } { print rand(), $1 }' |
    sort -n | head -n $(((cycles + 9) / 10)) | cut -d' ' -f2 | sort -n | tr '\n' ' ')
is_faulty() { case " $faulty " in *" $1 "*) return 0 ;; esac; return 1; }

# --- round 1: qm730ctl ---------------------------------------------------
echo "round 1: $cycles cycles of qm730ctl send, read, flash (faulty cycles: $faulty)"
sim_start healthy
healthy=("$sim_pid" "$sim_stamper" "$sim_log")
healthy_port=$sim_port
sim_pid=
fd_first=$(descriptors "${healthy[0]}")
rss_first=$(resident "${healthy[0]}")
failures=0
longest_healthy=0
longest_faulty=0
longest_cycle=0
injected=()
peak_ctl=0
low_ctl=
: >"$work/round1"

for cycle in $(seq "$cycles"); do
    make_table "$work/sent.tbl"
    firmware=$work/a.s19
    [ $((cycle % 2)) -eq 0 ] && firmware=$work/b.s19
    port=$healthy_port
    expect=ooo
    label=healthy
    if is_faulty "$cycle"; then
        choose_fault
        sim_start "fault-$cycle" "${fault_args[@]}"
        port=$sim_port
        expect=$fault_expect
        label=$fault_label
        injected+=("${fault_args[0]}")
    fi
    rm -f "$work/read.tbl"
    line="cycle $cycle $label:"
    ok=1
    op=0
    cycle_seconds=0
    for command in send read flash; do
        case $command in
            send) args=(send -q --port "$port" "$work/sent.tbl") ;;
            read) args=(read -q --port "$port" --base "$work/sent.tbl" "$work/read.tbl") ;;
            flash) args=(flash -q --port "$port" "$firmware") ;;
        esac
        status=0
        /usr/bin/time -f '%e %M' -o "$work/time" "$ctl" "${args[@]}" >/dev/null 2>"$work/err" || status=$?
        # GNU time puts a line about a non-zero status before its own.
        read -r seconds peak <<<"$(tail -n 1 "$work/time")"
        want=${expect:op:1}
        op=$((op + 1))
        verdict=ok
        [ "$status" -eq 0 ] || verdict="failed($status)"
        if [ "$want" = o ] && [ "$status" -ne 0 ]; then
            verdict="$verdict UNEXPECTED: $(head -n 1 "$work/err")"
            ok=0
        elif [ "$want" = x ] && [ "$status" -ne 1 ]; then
            verdict="$verdict UNEXPECTED: should have failed with status 1"
            ok=0
        fi
        [ "$command" = send ] && sent_status=$status
        # The board holds the table sent when the send succeeded, and never
        # one whose upload failed (the records changed every cycle show it).
        if [ "$command" = read ] && [ "$status" -eq 0 ]; then
            if [ "$sent_status" -eq 0 ] && ! cmp -s "$work/read.tbl" "$work/sent.tbl"; then
                verdict="$verdict UNEXPECTED: the table read is not the table sent"
                ok=0
            elif [ "$sent_status" -ne 0 ] && cmp -s "$work/read.tbl" "$work/sent.tbl"; then
                verdict="$verdict UNEXPECTED: the board holds the table whose upload failed"
                ok=0
            fi
        fi
        if awk -v s="$seconds" -v b="$bound" 'BEGIN { exit !(s > b) }'; then
            verdict="$verdict OVER THE BOUND"
            ok=0
        fi
        if [ "$label" = healthy ]; then
            longest_healthy=$(awk -v a="$longest_healthy" -v b="$seconds" 'BEGIN { print (b > a ? b : a) }')
        else
            longest_faulty=$(awk -v a="$longest_faulty" -v b="$seconds" 'BEGIN { print (b > a ? b : a) }')
        fi
        cycle_seconds=$(awk -v a="$cycle_seconds" -v b="$seconds" 'BEGIN { print a + b }')
        [ "$peak" -gt "$peak_ctl" ] && peak_ctl=$peak
        [ -z "$low_ctl" ] || [ "$peak" -lt "$low_ctl" ] && low_ctl=$peak
        line="$line $command $verdict ${seconds}s"
    done
    [ "$label" = healthy ] || sim_stop
    longest_cycle=$(awk -v a="$longest_cycle" -v b="$cycle_seconds" 'BEGIN { print (b > a ? b : a) }')
    fds=$(descriptors "${healthy[0]}")
    rss=$(resident "${healthy[0]}")
    echo "$cycle $fds $rss" >>"$work/round1"
    [ "$ok" = 1 ] || { failures=$((failures + 1)); line="FAILED $line"; }
    echo "$line; board fds $fds, rss $rss KiB"
done
fd_last=$(descriptors "${healthy[0]}")
rss_last=$(resident "${healthy[0]}")
rss_settled=$(awk '$1 == 10 { print $3 }' "$work/round1")
rss_most=$(awk 'BEGIN { m = 0 } $3 > m { m = $3 } END { print m }' "$work/round1")
fd_most=$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { print m }' "$work/round1")
read -r sim_pid sim_stamper sim_log <<<"${healthy[*]}"
sim_stop
healthy=()
round1_failures=$failures

# --- round 2: qm730soak, one process -------------------------------------
echo "round 2: $cycles cycles in one process (qm730soak)"
fault_ports=()
fault_count=0
for kind in $(seq 0 10); do
    # Each kind of fault once, with its parameters drawn as in round 1.
    while :; do
        choose_fault
        case $kind in
            0) [[ $fault_label == --silent ]] && break ;;
            1) [[ $fault_label == --wrong-answer ]] && break ;;
            2) [[ $fault_label == --refuse ]] && break ;;
            3) [[ $fault_label == --bad-checksum ]] && break ;;
            4) [[ $fault_label == --stop-after\ * ]] && break ;;
            5) [[ $fault_label == --refuse-flash* ]] && break ;;
            6) [[ $fault_label == --corrupt-readback* ]] && break ;;
            7) [[ $fault_label == --stop-after-frames* ]] && break ;;
            8) [[ $fault_label == --erase-delay* ]] && break ;;
            9) [[ $fault_label == --cut-reply* ]] && break ;;
            10) [[ $fault_label == --noise-before-reply* ]] && break ;;
        esac
    done
    sim_start "driver-fault-$kind" "${fault_args[@]}"
    fault_ports+=(--fault "$fault_label" "$sim_port" "$fault_expect")
    eval "fault_pid_$kind=$sim_pid fault_stamper_$kind=$sim_stamper fault_log_$kind=$sim_log"
    fault_count=$((fault_count + 1))
done
sim_start driver-healthy
healthy=("$sim_pid" "$sim_stamper" "$sim_log")
sim_pid=
board_fd_before=$(descriptors "${healthy[0]}")
board_rss_before=$(resident "${healthy[0]}")
status=0
"$soak" --port "$(head -n 1 "$work/driver-healthy.out")" --firmware "$work/a.s19" --firmware "$work/b.s19" \
    --cycles "$cycles" --seed "$seed" --bound "$bound" "${fault_ports[@]}" | tee "$work/round2" || status=$?
board_fd_after=$(descriptors "${healthy[0]}")
board_rss_after=$(resident "${healthy[0]}")
for kind in $(seq 0 10); do
    eval "sim_pid=\$fault_pid_$kind sim_stamper=\$fault_stamper_$kind sim_log=\$fault_log_$kind"
    sim_stop
done
round2_status=$status
round2_failed=$(grep -c '^FAILED' "$work/round2" || true)

finished=$EPOCHREALTIME
load_end=$(cut -d' ' -f1-3 /proc/loadavg)
minutes=$(awk -v a="$started" -v b="$finished" 'BEGIN { printf "%.1f", (b - a) / 60 }')
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
summary() { grep "^summary: $1" "$work/round2" | sed "s/^summary: //"; }

# The faults injected in round 1, by kind: "--refuse-flash x3, --silent x2".
injected_kinds=
[ ${#injected[@]} -eq 0 ] || injected_kinds=$(printf '%s\n' "${injected[@]}" | sort | uniq -c | awk '{ printf "%s%s x%d", (NR > 1 ? ", " : ""), $2, $1 }')
# Memory that grew by more than a MiB after the first ten cycles is a leak,
# not the allocator finding its size.
board_grew=$(awk -v a="$rss_settled" -v b="$rss_last" 'BEGIN { print (b - a > 1024) }')
{
    echo "## Long run (\`scripts/soak.sh\`)"
    echo
    echo "Run on $(date -u +%Y-%m-%d) at commit $commit: $cycles cycles of send, read and flash"
    echo "(128 KiB firmware, two images in turn) in each round, against unpaced boards, a"
    echo "tenth of the cycles against a board with a fault (seed $seed); $minutes minutes in"
    echo "all; load average (1, 5, 15 min) $load_start at the start, $load_end at the end."
    echo
    echo "| Round | Cycles that went wrong | Open descriptors | Resident memory | Longest |"
    echo "|---|---|---|---|---|"
    echo "| 1: qm730ctl, one process per operation, against one long-lived board | $round1_failures of $cycles |" \
        "board: $fd_first at the start, $fd_last at the end, at most $fd_most |" \
        "board: $rss_first KiB at the start, $rss_settled KiB after cycle 10, $rss_last KiB at the end, at most $rss_most KiB; qm730ctl: peak $low_ctl to $peak_ctl KiB per operation |" \
        "operation: healthy ${longest_healthy} s, faulty ${longest_faulty} s (bound $bound s); cycle: ${longest_cycle} s |"
    echo "| 2: qm730soak, one process for all cycles | $round2_failed of $cycles |" \
        "$(summary descriptors); its board: $board_fd_before before, $board_fd_after after |" \
        "$(summary resident); its board: $board_rss_before KiB before, $board_rss_after KiB after |" \
        "operation: $(summary 'longest send' | sed 's/^longest //') (bound $bound s); cycle: $(summary 'longest cycle' | sed 's/^longest cycle //') |"
    echo
    echo "Faults injected in round 1, one per faulty cycle: ${injected_kinds:-none}. In"
    echo "round 2 each of the eleven kinds of fault runs on a board of its own, and"
    echo "each faulty cycle goes to one of them at random: $(summary faults | sed 's/^faults //')."
    echo "An operation the fault hits must fail with status 1 (round 1) or report a"
    echo "failure (round 2); the other operations of the cycle must succeed."
} >"$work/section"
write_section "$out" soak "$work/section"
cat "$work/section"

[ "$round1_failures" -eq 0 ] && [ "$round2_status" -eq 0 ] && [ "$fd_last" -le "$fd_first" ] && [ "$board_grew" = 0 ]
