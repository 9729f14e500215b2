#!/usr/bin/env bash
# qm730ctl on real serial drivers: a Debian kernel under QEMU (TCG, no KVM
# needed) runs qm730ctl against the simulated board on this machine, once
# through the kernel's 8250 driver (a 16550A on the guest's second serial
# port) and once through its ftdi_sio driver (QEMU's FTDI USB-serial adapter
# on an xHCI controller). qm730linerelay carries the line between QEMU and
# the board at 19200 baud, 11 bits a byte, both ways, so the guest's driver
# fills its queue and waits as it does on a real port.
#
# In the guest (tests/uart/guest_init.sh), for each driver: send, read (the
# same table back), flash (4 blocks, one of them all 03 and 1B, the bytes the
# frames escape), probe, backup (all 64 blocks, about 70 s), a send with the
# port left at 7 data bits and even parity, a send stopped by SIGINT and the
# next send; each step checks its exit status and success line and that
# `stty -g` of the port is the same before and after.
#
#   scripts/test_real_uart.sh [BUILD_DIR]     (default: build)
#
# About 7 minutes on 2 cores, once the guest's packages are fetched. Prints
# each check as it comes and a table of wall time against wire time per step
# and driver; on a failure also the guest's console, the relay's and the
# simulator's messages. Exits 1 when anything failed. The kernel and
# busybox-static are fetched with apt-get download and unpacked into
# BUILD_DIR/real-uart (QM730_UART_CACHE overrides; delete it to fetch anew);
# nothing is installed into /boot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac

packages=(qemu-system-x86 build-essential cmake ninja-build libcli11-dev libgtest-dev)
source scripts/lib/packages.sh
source scripts/lib/simulator.sh

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

step "packages"
install_missing "${packages[@]}"

step "qm730ctl, qm730sim and qm730linerelay"
# A new build folder needs no Qt: only these three programs are built.
gui_option=()
[ -f "$build/CMakeCache.txt" ] || gui_option=(-DQM730_BUILD_GUI=OFF)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${gui_option[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target qm730ctl qm730sim qm730linerelay
ctl=$build/bin/qm730ctl
sim=$build/bin/qm730sim
relay=$build/bin/qm730linerelay

# The guest's kernel (its image and the USB modules only; the package holds
# 400 MB of modules) and busybox-static, from Debian's archive.
step "guest kernel and busybox"
cache=${QM730_UART_CACHE:-$build/real-uart}
guest=$cache/guest
if [ ! -f "$guest/ready" ]; then
    rm -rf "$guest" "$cache/debs"
    mkdir -p "$guest" "$cache/debs"
    $sudo apt-get update
    kernel_package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | sed -n 1p)
    [ -n "$kernel_package" ] || { echo "apt-cache names no kernel for linux-image-amd64" >&2; exit 1; }
    sandbox=()
    [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
    (cd "$cache/debs" && apt-get download "${sandbox[@]}" "$kernel_package" busybox-static)
    dpkg-deb --fsys-tarfile "$cache"/debs/linux-image-*.deb |
        tar -x -C "$guest" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/usb/*'
    dpkg -x "$cache"/debs/busybox-static_*.deb "$guest"
    touch "$guest/ready"
fi
vmlinuz=$(ls "$guest"/boot/vmlinuz-*)
busybox=$guest/bin/busybox
echo "kernel $(basename "$vmlinuz"), $("$busybox" | sed -n 1p | cut -d' ' -f1-2)"

work=$(mktemp -d)
sim_pid=
qemu_pid=
cleanup() {
    [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
    sim_stop
    rm -rf "$work"
}
trap cleanup EXIT

# The files the guest works with: three tables that differ from each other
# and from the board's default, and a firmware of three blocks of random
# bytes and one of escaped bytes (the fourth, at D1800).
step "initramfs"
data=$work/initramfs/data
mkdir -p "$data"
for table in a:11 b:12 c:13; do
    "$ctl" new "$data/${table%:*}.tbl"
    "$ctl" set -q "$data/${table%:*}.tbl" "Pager_duration=${table#*:}" "Delay_byte_1=${table#*:}"
done
make_firmware "$work/random.s19" 6144 1701
{
    sed '$d' "$work/random.s19"
    awk 'BEGIN {
        for (address = 858112; address < 858112 + 2048; address += 32) {
            sum = 36 + int(address / 65536) + int(address / 256) % 256 + address % 256
            line = sprintf("S224%06X", address)
            for (i = 0; i < 32; i++) { b = i % 2 ? 27 : 3; sum += b; line = line sprintf("%02X", b) }
            print line sprintf("%02X", 255 - sum % 256)
        }
    }'
    sed -n '$p' "$work/random.s19"
} >"$data/firmware.s19"

# The program, the libraries ldd names and the loader, busybox, the USB
# modules the adapter needs (each after those it depends on), the steps.
initramfs=$work/initramfs
mkdir -p "$initramfs/bin" "$initramfs/modules"
cp "$busybox" "$initramfs/bin/busybox"
strip -o "$initramfs/bin/qm730ctl" "$ctl"
for library in $(ldd "$ctl" | grep -o '/[^ ]*'); do
    mkdir -p "$initramfs$(dirname "$library")"
    cp -L "$library" "$initramfs$library"
done
modules=$(ls -d "$guest"/lib/modules/*/kernel)
loaded=" "
load_after_dependencies() {
    local name=$1 file dep
    case $loaded in *" $name "*) return 0 ;; esac
    file=$(find "$modules" \( -name "$name.ko" -o -name "${name//-/_}.ko" -o -name "${name//_/-}.ko" \) | sed -n 1p)
    [ -n "$file" ] || { echo "no module $name in $modules" >&2; exit 1; }
    for dep in $(grep -a -o 'depends=[^[:cntrl:]]*' "$file" | sed -n '1s/^depends=//p' | tr , ' '); do
        load_after_dependencies "$dep"
    done
    loaded="$loaded$name "
    cp "$file" "$initramfs/modules/"
    basename "$file" >>"$initramfs/modules/order"
}
load_after_dependencies xhci-pci
load_after_dependencies ftdi_sio
echo "modules for the adapter:" $(cat "$initramfs/modules/order")
install -m 755 tests/uart/guest_init.sh "$initramfs/init"
(cd "$initramfs" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$work/initramfs.cpio"
echo "initramfs $(($(stat -c %s "$work/initramfs.cpio") / 1024)) KiB"

# run_guest DRIVER: boots the guest with the port of that driver on the
# relay and the board, and stamps every console line with the moment it
# came. At the "begin" and "end" marks it notes the relay's byte counts.
# Writes $work/DRIVER.console, .marks, .line.log (relay and QEMU) and the
# board's log.
run_guest() {
    local driver=$1 port line
    local console=$work/$driver.console marks=$work/$driver.marks status=$work/$driver.status
    : >"$marks"
    sim_start "$driver.board" --save "$work/$driver.board.tbl"
    # QEMU's end of the line holds a few hundred bytes at most (see
    # tests/uart/line_relay.cpp): the default buffer for the 16550A's one-byte
    # writes, the smallest for the adapter's USB packets.
    local device=(-chardev "socket,id=line,fd=3") buffer
    case $driver in
        8250)
            port=/dev/ttyS1
            buffer=0
            device+=(-serial chardev:line)
            ;;
        ftdi)
            port=/dev/ttyUSB0
            buffer=1
            device+=(-device qemu-xhci,id=usb -device usb-serial,bus=usb.0,chardev=line)
            ;;
    esac
    mkfifo "$work/$driver.fifo"
    # The relay starts QEMU with the line on its descriptor 3 and ends with it.
    timeout -k 10 900 "$relay" --board "$sim_port" --status "$status" --socket-buffer "$buffer" -- \
        qemu-system-x86_64 -accel tcg -M pc -m 256 -nodefaults -display none -no-reboot \
        -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
        -append "console=ttyS0,115200 panic=-1 loglevel=4 qm730.port=$port qm730.driver=$driver" \
        -chardev stdio,id=console,signal=off -serial chardev:console "${device[@]}" \
        </dev/null >"$work/$driver.fifo" 2>"$work/$driver.line.log" &
    qemu_pid=$!
    local to_board to_guest waited stamp
    while IFS= read -r line; do
        line=${line%$'\r'}
        stamp=$EPOCHREALTIME
        printf '%s %s\n' "$stamp" "$line" >>"$console"
        case $line in
            "@@ begin "* | "@@ end "*)
                read -r to_board to_guest waited <"$status"
                echo "$stamp ${line#@@ } $((10#$to_board)) $((10#$to_guest)) $((10#$waited))" >>"$marks"
                ;;
            "@@ run "* | "@@ done "*) echo "$stamp ${line#@@ }" >>"$marks" ;;
        esac
        case $line in
            "@@ begin "* | "@@ end "* | "@@ run "*) ;;
            "@@ "*) echo "[$driver] ${line#@@ }" ;;
        esac
    done <"$work/$driver.fifo"
    local qemu_status=0
    wait "$qemu_pid" || qemu_status=$?
    qemu_pid=
    [ "$qemu_status" -eq 0 ] || echo "[$driver] QEMU ended with status $qemu_status" | tee -a "$console"
    sim_stop
}

# judge DRIVER: the guest's verdict and the board's own: it holds the last
# table sent. Prints the diagnosis on a failure.
judge() {
    local driver=$1 problems=()
    grep -q '^[0-9.]* @@ finished with 0 failed checks$' "$work/$driver.console" ||
        problems+=("the guest did not finish its steps without a failed check")
    cmp -s "$work/$driver.board.tbl" "$data/c.tbl" 2>/dev/null ||
        problems+=("the board does not hold c.tbl, the table sent last")
    # Without back-pressure the guest's driver would hand an upload to QEMU
    # in a second or two: qm730ctl's own time for a send must come to its
    # wire time and pauses, less what may wait in QEMU's socket as it ends.
    local slow
    slow=$(step_table "$driver" | awk -F'|' '$2 ~ /send/ && $2 !~ /interrupted/ && $6 + 0 < 0.95 * ($4 + $5) { print $2 }')
    [ -z "$slow" ] || problems+=("sends faster than the line carries them:$slow")
    [ ${#problems[@]} -eq 0 ] && return 0
    {
        echo
        printf '[%s] FAILED: %s\n' "$driver" "${problems[@]}"
        echo "---- [$driver] guest console (stamped on arrival)"
        cat "$work/$driver.console"
        echo "---- [$driver] the line relay and QEMU"
        cat "$work/$driver.line.log"
        echo "---- [$driver] simulated board (stamped)"
        cat "$work/$driver.board.log"
    } >&2
    return 1
}

# step_table DRIVER: per step "| step | bytes to / from the board | wire time
# | idle pauses | qm730ctl's time | wall time | ratio | ratio less start-up |"
# in Markdown. The wall time of a send runs until the board has taken the
# last byte (it may still be on its way when qm730ctl ends: QEMU holds a few
# hundred bytes, with the FTDI adapter up to a KiB); the others end with
# qm730ctl. The ratio is wall / (wire + pauses); the last column takes off
# what qm730ctl took to start and end in the guest without a line, a fifth
# of the start-up-x5 step (under TCG ten times what it takes on the host).
step_table() {
    local driver=$1
    awk -v baud=19200 -v driver="$driver" '
        # The pauses the program makes on purpose while the line is idle (see
        # docs/benchmarks.md); none are counted for probe and the interrupted
        # send, which are not judged.
        BEGIN {
            pause["send"] = pause["send-cs7"] = pause["send-again"] = 0.5937
            pause["read"] = 0.2; pause["flash"] = 2.1; pause["backup"] = 0.1
        }
        FILENAME ~ /board.log$/ { if (/upload applied/) applied[++uploads] = $1; next }
        $2 == "begin" { to0[$3] = $4; from0[$3] = $5; order[++steps] = $3 }
        $2 == "run" { run[$3] = $1 }
        $2 == "done" { done[$3] = $1 }
        $2 == "end" { to1[$3] = $4; from1[$3] = $5; end[$3] = $1 }
        END {
            startup = "start-up-x5" in done ? (done["start-up-x5"] - run["start-up-x5"]) / 5 : 0
            for (i = 1; i <= steps; i++) {
                s = order[i]
                if (!(s in end) || !(s in done)) { printf "| %s %s | (did not finish) | | | | | | |\n", driver, s; continue }
                to = to1[s] - to0[s]; from = from1[s] - from0[s]
                wire = (to + from) * 11 / baud; own = done[s] - run[s]; wall = own
                for (u = 1; u <= uploads; u++)
                    if (applied[u] > run[s] && applied[u] < end[s] && applied[u] - run[s] > wall) wall = applied[u] - run[s]
                judged = s in pause
                ratio = judged ? sprintf("%.4f", wall / (wire + pause[s])) : "-"
                net = judged ? sprintf("%.4f", (wall - startup) / (wire + pause[s])) : "-"
                printf "| %s %s | %d / %d | %.3f s | %s | %.3f s | %.3f s | %s | %s |\n", driver, s, to, from, wire,
                    judged ? pause[s] " s" : "-", own, wall, ratio, net
            }
        }' "$work/$driver.marks" "$work/$driver.board.log"
}

failed=0
read -r -a drivers <<<"${QM730_UART_DRIVERS:-8250 ftdi}"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
for driver in "${drivers[@]}"; do
    step "guest with the $driver driver"
    run_guest "$driver" || failed=1
done
load_end=$(cut -d' ' -f1-3 /proc/loadavg)

step "results"
{
    echo "## Real serial drivers (\`scripts/test_real_uart.sh\`)"
    echo
    echo "Measured on $(date -u +%Y-%m-%d) at commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown),"
    echo "QEMU $(qemu-system-x86_64 --version | sed -n '1s/.*version \([^ ]*\).*/\1/p') (TCG) on $(nproc) cores of"
    echo "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | sed -n 1p), guest kernel $(basename "$vmlinuz" | sed 's/^vmlinuz-//');"
    echo "load average (1, 5, 15 min) $load_start at the start, $load_end at the end."
    echo
    echo "| Step | Bytes to / from the board | Wire time | Idle pauses | qm730ctl's time | Wall time | Ratio | Less start-up |"
    echo "|---|---|---|---|---|---|---|---|"
    for driver in "${drivers[@]}"; do step_table "$driver"; done
    echo
    for driver in "${drivers[@]}"; do
        sed -n 's/^qm730linerelay: .*; \(.*waited.*\)/- '"$driver"': \1./p' "$work/$driver.line.log"
    done
} >"$work/section"
cat "$work/section"
# Like scripts/benchmark.sh: BENCHMARK_OUT=docs/benchmarks.md keeps the
# figures in that file's section for this script.
[ -z "${BENCHMARK_OUT:-}" ] || write_section "$BENCHMARK_OUT" real-uart "$work/section"
for driver in "${drivers[@]}"; do judge "$driver" || failed=1; done
if [ "$failed" -ne 0 ]; then
    echo "real UART test: FAILED" >&2
    exit 1
fi
echo "real UART test: every step passed on ${drivers[*]}"
