#!/usr/bin/env bash
# Runs the fault matrix (send, read, flash and probe against a simulated
# board misbehaving in each way) through qm730ctl and through the windows,
# and writes what each cell ended with to docs/fault-matrix.md.
#
#   scripts/fault_matrix.sh [BUILD_DIR]      (default: build)
#
# The build must have its tests (cli_tests, and gui_tests for the windows'
# table; without a GUI build only the command line's table is written).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cli=$build/bin/cli_tests
gui=$build/bin/gui_tests
out=docs/fault-matrix.md
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
report=$work/report.tsv

QM730_FAULT_MATRIX_REPORT=$report "$cli" --gtest_filter='FaultMatrix/*' --gtest_brief=1 >"$work/cli.log" 2>&1 ||
    { cat "$work/cli.log" >&2; echo "the command line's fault matrix failed" >&2; exit 1; }
if [ -x "$gui" ]; then
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} QM730_FAULT_MATRIX_REPORT=$report \
        "$gui" --gtest_filter='FaultMatrix/*' --gtest_brief=1 >"$work/gui.log" 2>&1 ||
        { cat "$work/gui.log" >&2; echo "the windows' fault matrix failed" >&2; exit 1; }
fi

mkdir -p docs
{
    cat <<'EOF'
# Fault matrix

What send, read, flash and probe end with when the simulated board
misbehaves, through `qm730ctl` and through the windows. Written by
`scripts/fault_matrix.sh` from the table-driven tests
`FaultMatrix/CliFaultMatrix.*` (tests/cli/cli_fault_matrix_test.cpp) and
`FaultMatrix/GuiFaultMatrix.*` (tests/gui/fault_matrix_test.cpp), whose cells
are listed in tests/support/fault_matrix.h; run the script again after a
change to any of them.

Every cell also checks that the table file, the firmware file, an earlier
`OUT.tbl` (qm730ctl) and the image and flash image in the window are left as
they were, that the port is let go (another program can open it at once),
and that the same operation then succeeds against the board healed (the
simulator's `SIGUSR1`) or, after the device went away, against a new one: in
the same window for the GUI.

Each wait is bounded by its own time-out: 2,000 ms for the logon answer, for
the download frame's first byte and for each later silence in it; 400 +
2,000 ms for the go-ahead; 303 ms (101 polls of 3 ms) for the board check's
reply; 5,050 ms (101 polls of 50 ms) for every other reply and data-frame
byte of the flash loader; 1,010 ms for the probe's answer. The "just inside"
cells answer 200 to 300 ms before the wait ends and must succeed, the "just
outside" cells 500 ms after it and must fail. The times are wall times from
the start of the command (qm730ctl's run, the window's menu command) to its
end, measured on the machine that ran the script (two cores, shared); a flash
that gets past the erases includes the two 1,000 ms pauses after them.
A probe in the windows repeats until the operator cancels: the test cancels it
once the first probe has gone unanswered.

Not every fault has a cell for every operation: the probe's answer is one
byte, so cutting it short is the silent board, and any byte other than 06 is
the refusal; the upload has no checksum from the board, so its "corrupted"
cell corrupts the logon answer instead.

EOF
    awk -F'\t' '
        function cell(text) { gsub(/\|/, "\\|", text); return text == "" ? " " : text }
        $1 == "qm730ctl" {
            if (!cli++) {
                print "## qm730ctl"
                print ""
                print "Outcome and exit status of the command, and what it printed (on stdout for a"
                print "success; on stderr after \"qm730ctl: OPERATION on PORT: \" for a failure)."
                print ""
                print "| Operation | Fault | qm730sim options | Outcome | Exit status | Message | Time (s) |"
                print "|---|---|---|---|---|---|---|"
            }
            printf "| %s | %s | `%s` | %s | %s | %s | %s |\n", $2, cell($3), $4, $5, $6, cell($7), $8
        }
        END { if (cli) print "" }
    ' "$report"
    awk -F'\t' '
        function cell(text) { gsub(/\|/, "\\|", text); return text == "" ? " " : text }
        $1 == "qm730c" {
            if (!gui++) {
                print "## The windows (qm730c)"
                print ""
                print "Transfer and Read through the transfer dialog (its result text), Write and"
                print "P-Link in S29 mode (the message boxes, in order)."
                print ""
                print "| Operation | Fault | qm730sim options | Outcome | What the window shows | Time (s) |"
                print "|---|---|---|---|---|---|"
            }
            op = $2 == "send" ? "Transfer" : $2 == "read" ? "Read" : $2 == "flash" ? "Write (S29)" : "P-Link (S29)"
            printf "| %s | %s | `%s` | %s | %s | %s |\n", op, cell($3), $4, $5, cell($7), $8
        }
    ' "$report"
} >"$out"
echo "wrote $out ($(grep -c . "$report") cells)"
