#!/usr/bin/env bash
# Measures a full send and a full read against the simulated board paced at
# 19200 baud (11 bits a byte). For each it prints the wall time, the time the
# line and the protocol's fixed delays account for, their ratio, and the
# processor time qm730ctl used.
#
#   scripts/measure_transfer.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
ctl=$build/bin/qm730ctl
sim=$build/bin/qm730sim
[ -x "$ctl" ] && [ -x "$sim" ] || { echo "build $ctl and $sim first" >&2; exit 2; }

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }

# The simulator's log lines, each stamped with the moment it appeared.
"$ctl" new "$work/board.tbl" >/dev/null
"$sim" --pace --load "$work/board.tbl" >"$work/sim.out" \
    2> >(while IFS= read -r line; do echo "$(now) $line"; done >"$work/sim.log") &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.05; done
port=$(head -n 1 "$work/sim.out")

TIMEFORMAT='%R %U %S'

# --- send -------------------------------------------------------------
start=$(now)
{ time "$ctl" send --port "$port" "$work/board.tbl" >/dev/null; } 2>"$work/send.time"
for _ in $(seq 1200); do grep -q "upload applied" "$work/sim.log" && break; sleep 0.05; done
read -r ctl_wall ctl_user ctl_sys <"$work/send.time"
applied_at=$(grep "upload applied" "$work/sim.log" | head -n 1 | cut -d' ' -f1)
line_bytes=$(grep "upload applied" "$work/sim.log" | head -n 1 | sed 's/.*blocks, \([0-9]*\) line bytes.*/\1/')
# Program: CR, ESC P G 2 CR, the blocks. Board: "ID=" CR and the go-ahead.
awk -v start="$start" -v applied="$applied_at" -v bytes="$line_bytes" \
    -v wall="$ctl_wall" -v user="$ctl_user" -v sys="$ctl_sys" 'BEGIN {
    wire = (6 + bytes + 4 + 6) * 11 / 19200; fixed = 0.6; board_wall = applied - start
    printf "send: %d line bytes; wire %.3f s + delays %.3f s = %.3f s\n", bytes + 16, wire, fixed, wire + fixed
    printf "send: until the board had the last byte %.3f s, ratio %.3f\n", board_wall, board_wall / (wire + fixed)
    printf "send: qm730ctl wall %.3f s (the pseudo-terminal takes the upload at once), cpu %.3f s = %.2f%% of the board wall time\n",
           wall, user + sys, 100 * (user + sys) / board_wall
}'

# --- read -------------------------------------------------------------
{ time "$ctl" read --port "$port" "$work/read.tbl" >/dev/null; } 2>"$work/read.time"
read -r ctl_wall ctl_user ctl_sys <"$work/read.time"
awk -v wall="$ctl_wall" -v user="$ctl_user" -v sys="$ctl_sys" 'BEGIN {
    wire = (6 + 4 + 8846) * 11 / 19200; fixed = 0.25
    printf "read: wire %.3f s + delays %.3f s = %.3f s\n", wire, fixed, wire + fixed
    printf "read: qm730ctl wall %.3f s, ratio %.3f, cpu %.3f s = %.2f%% of wall\n",
           wall, wall / (wire + fixed), user + sys, 100 * (user + sys) / wall
}'
