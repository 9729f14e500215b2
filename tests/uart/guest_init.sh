#!/bin/busybox sh
# The guest's /init for scripts/test_real_uart.sh: runs qm730ctl on a real
# serial driver against the simulated board on the host, and reports each
# step on the console (the first serial port) in lines the host reads:
#
#   @@ begin NAME        the line is quiet; the host notes its byte counts
#   @@ run NAME          qm730ctl starts
#   @@ done NAME STATUS  qm730ctl has ended with STATUS
#   @@ ok NAME: WHAT     a check passed
#   @@ FAIL NAME: WHAT   a check failed (its output follows, each line "@| ")
#   @@ end NAME          the line is quiet again
#   @@ finished          every step ran
#
# The kernel command line names the port and its driver:
# qm730.port=/dev/ttyS1 qm730.driver=8250 (or /dev/ttyUSB0 and ftdi).
/bin/busybox mkdir -p /proc /sys /dev /tmp /usr/bin /usr/sbin /sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp

port=
driver=
for word in $(cat /proc/cmdline); do
    case $word in
        qm730.port=*) port=${word#*=} ;;
        qm730.driver=*) driver=${word#*=} ;;
    esac
done

say() { echo "@@ $*"; }
finish() {
    sync
    poweroff -f
}

# A quiet moment on each side of a step, so the host's byte counts taken at
# "begin" and "end" hold that step's bytes and no others: the guest's last
# bytes may still be on their way to the board when qm730ctl returns (up to
# a KiB, 0.6 s, through the emulated USB adapter).
quiet() { sleep "$1"; }

failures=0
fail() {
    say "FAIL $name: $1"
    failures=$((failures + 1))
    [ -n "${2:-}" ] && sed 's/^/@| /' "$2"
    return 0
}
ok() { say "ok $name: $1"; }

# The USB adapter's driver and its host controller come as modules, in the
# order they depend on each other.
if [ "$driver" = ftdi ]; then
    while read -r module; do
        insmod "/modules/$module" || say "FAIL setup: insmod $module"
    done </modules/order
fi
for _ in $(seq 200); do
    [ -c "$port" ] && break
    sleep 0.1
done
if [ ! -c "$port" ]; then
    name=setup
    fail "no $port after 20 s"
    dmesg | tail -n 30 | sed 's/^/@| /'
    finish
fi
device=${port#/dev/}
say "port $port: $(dmesg | grep -m 1 -E "$device( at | is |$)" | sed 's/^\[[ 0-9.]*\] //')"
[ -r /proc/tty/driver/serial ] && grep "^${device#ttyS}:" /proc/tty/driver/serial | sed 's/^/@@ uart /'

cd /data
# The first file the program saves after boot waits for the kernel's random
# pool (its temporary name), a second or two under TCG: not the line's time.
qm730ctl new /tmp/warm-up.tbl

# The port as 'qm730ctl ports' finds it in this kernel's sysfs, opening
# nothing: the adapter by its USB IDs and driver, the UART by its driver.
# No udev here, so no stable path.
name=ports
case $driver in
    ftdi) wanted="USB 0403:6001, .*driver ftdi_sio" ;;
    *) wanted="driver serial" ;;
esac
if qm730ctl ports >/tmp/out 2>/tmp/err && grep -q -E "^$port +- +.*$wanted" /tmp/out; then
    ok "lists $(grep "^$port " /tmp/out | tr -s ' ')"
else
    cat /tmp/err >>/tmp/out
    fail "does not list $port with \"$wanted\"" /tmp/out
fi

# step NAME EXPECTED_STATUS SUCCESS_LINE qm730ctl ARGS...
# Runs qm730ctl, checks its status and its line on stdout, and that the port
# has the settings it had before.
step() {
    name=$1
    expected=$2
    success=$3
    shift 3
    settings=$(stty -F "$port" -g)
    say "begin $name"
    quiet 0.3
    say "run $name"
    "$@" >/tmp/out 2>/tmp/err
    status=$?
    say "done $name $status"
    if [ "$status" = "$expected" ]; then ok "exit status $status"; else fail "exit status $status, expected $expected" /tmp/err; fi
    if [ -n "$success" ]; then
        if [ "$(cat /tmp/out)" = "$success" ]; then ok "said \"$success\""; else fail "said \"$(cat /tmp/out)\"" /tmp/err; fi
    fi
    after=$(stty -F "$port" -g)
    if [ "$after" = "$settings" ]; then ok "port settings as before"; else fail "port settings were $settings, are $after"; fi
}
end_step() {
    quiet 1
    say "end $name"
}

# What starting and ending the program costs in the guest, line or not:
# under TCG it takes ten times as long as on the host. Five in a row, as one
# varies with the host's load.
starts() { for _ in 1 2 3 4 5; do qm730ctl --version || return; done; }
step start-up-x5 0 "" starts
end_step

step send 0 "Transfer Success !" qm730ctl send --port "$port" a.tbl
end_step

step read 0 "Read Success !" qm730ctl read --port "$port" read.tbl
if cmp read.tbl a.tbl >/tmp/cmp 2>&1; then ok "read.tbl equals a.tbl"; else fail "read.tbl differs from a.tbl" /tmp/cmp; fi
end_step

step flash 0 "Transmit Success!" qm730ctl flash --port "$port" firmware.s19
end_step

step probe 0 "Connection Success !" qm730ctl probe --port "$port"
end_step

step backup 0 "Read Success !" qm730ctl backup --port "$port" backup.s28
# The backup holds every record of the firmware written, word for word, and
# the flash is erased everywhere else but the checksum.
grep '^S2' firmware.s19 | grep -v -x -F -f backup.s28 >/tmp/missing
if [ -s backup.s28 ] && [ ! -s /tmp/missing ]; then ok "backup.s28 holds every record of firmware.s19"; else fail "backup.s28 lacks records of firmware.s19" /tmp/missing; fi
records=$(grep -c '^S2' backup.s28)
expected_records=$(($(grep -c '^S2' firmware.s19) + 1))
if [ "$records" = "$expected_records" ]; then ok "$records records (the firmware's and the checksum's)"; else fail "$records records, expected $expected_records"; fi
end_step

# A port left at 7 data bits with even parity: the program sets its own
# format while it works (sampled halfway through) and puts this one back.
stty -F "$port" cs7 parenb
(
    sleep 5
    stty -F "$port" -a >/tmp/during 2>&1
) &
sampler=$!
step send-cs7 0 "Transfer Success !" qm730ctl send --port "$port" b.tbl
wait "$sampler"
format=$(tr ' ;' '\n\n' </tmp/during | grep -x -E 'cs[5-8]|-?parenb|-?cstopb|19200' | tr '\n' ' ' | sed 's/ $//')
if [ "$format" = "19200 -parenb cs8 cstopb" ]; then ok "the port ran at $format during the send"; else fail "the port ran at \"$format\" during the send" /tmp/during; fi
end_step
stty -F "$port" cs8 -parenb

# Ctrl+C partway through an upload, then the next upload. The board is left
# inside a block: it gives up an upload that has been silent for 5 s, and
# takes a logon only after that (it would read the CR as part of the block),
# so the operator's next try comes 6 s later.
(
    sleep 4
    kill -INT "$(pidof qm730ctl)"
) &
killer=$!
step send-interrupted 130 "" qm730ctl send --port "$port" c.tbl
wait "$killer"
end_step
sleep 6

step send-again 0 "Transfer Success !" qm730ctl send --port "$port" c.tbl
end_step

say "finished with $failures failed checks"
finish
