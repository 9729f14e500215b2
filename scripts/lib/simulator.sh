# Shared by scripts/benchmark.sh and scripts/soak.sh (sourced, not run):
# simulated boards started and stopped by the script, their log lines stamped
# with the moment they appeared, the bytes that crossed their line, and
# firmware files made up for a run.
#
# Needs: $sim (the qm730sim program) and $work (a scratch folder).

# The wall clock in seconds with microseconds, without starting a process.
now() { echo "$EPOCHREALTIME"; }

# sim_start NAME [QM730SIM OPTIONS...]
# Starts a simulated board. Sets sim_pid, sim_port and sim_log (its standard
# error, every line prefixed with the moment it was written).
sim_start() {
    local name=$1
    shift
    sim_log=$work/$name.log
    local fifo=$work/$name.fifo
    rm -f "$fifo"
    mkfifo "$fifo"
    # Stamped as each line comes, so the stamp is when the board logged it.
    while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done <"$fifo" >"$sim_log" &
    sim_stamper=$!
    "$sim" "$@" >"$work/$name.out" 2>"$fifo" &
    sim_pid=$!
    sim_port=
    local tries
    for tries in $(seq 200); do
        [ -s "$work/$name.out" ] && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    sim_port=$(head -n 1 "$work/$name.out")
    [ -n "$sim_port" ] || { echo "qm730sim $* did not start:" >&2; cat "$sim_log" >&2; return 1; }
}

# sim_stop: interrupts the board started last and waits for its log.
sim_stop() {
    [ -n "${sim_pid:-}" ] || return 0
    kill -INT "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    wait "$sim_stamper" 2>/dev/null || true
    sim_pid=
}

# sim_line_bytes: "RECEIVED SENT", the bytes that crossed the stopped
# board's line in each direction (it logs them when it stops).
sim_line_bytes() {
    sed -n 's/.*line totals: \([0-9]*\) bytes received, \([0-9]*\) bytes sent.*/\1 \2/p' "$sim_log" | tail -n 1
}

# sim_stamp PATTERN: the stamp of the first log line that holds PATTERN,
# waiting up to 10 minutes for it.
sim_stamp() {
    local tries
    for tries in $(seq 12000); do
        grep -q -- "$1" "$sim_log" && break
        sleep 0.05
    done
    grep -m 1 -- "$1" "$sim_log" | cut -d' ' -f1
}

# make_firmware FILE BYTES SEED
# An S-record firmware file (S0 header, S2 records of 32 bytes from D0000,
# S8 end) holding BYTES pseudo-random bytes, the same for the same SEED.
# Random data carries the usual share of bytes the link must stuff.
make_firmware() {
    awk -v bytes="$2" -v seed="$3" 'BEGIN {
        x = seed % 2147483646 + 1
        print "S00F000068656C6C6F202020202000003C"
        for (address = 851968; address < 851968 + bytes; address += 32) {
            n = 851968 + bytes - address; if (n > 32) n = 32
            sum = n + 4 + int(address / 65536) + int(address / 256) % 256 + address % 256
            line = sprintf("S2%02X%06X", n + 4, address)
            for (i = 0; i < n; i++) {
                x = (x * 16807) % 2147483647
                b = int(x / 256) % 256
                sum += b
                line = line sprintf("%02X", b)
            }
            print line sprintf("%02X", 255 - sum % 256)
        }
        print "S804000000FB"
    }' >"$1"
}

# write_section FILE NAME CONTENT_FILE
# Puts CONTENT_FILE between the lines "<!-- NAME: begin -->" and
# "<!-- NAME: end -->" of FILE, keeping the rest of FILE; appends the section
# when FILE has none yet, and makes FILE when it is missing.
write_section() {
    local file=$1 name=$2 content=$3
    mkdir -p "$(dirname "$file")"
    [ -f "$file" ] || printf '# Benchmarks and long runs\n' >"$file"
    if ! grep -qx "<!-- $name: begin -->" "$file"; then
        printf '\n<!-- %s: begin -->\n<!-- %s: end -->\n' "$name" "$name" >>"$file"
    fi
    awk -v begin="<!-- $name: begin -->" -v end="<!-- $name: end -->" -v content="$content" '
        $0 == begin { print; while ((getline line < content) > 0) print line; skip = 1; next }
        $0 == end { skip = 0 }
        !skip { print }' "$file" >"$file.new"
    mv "$file.new" "$file"
}
