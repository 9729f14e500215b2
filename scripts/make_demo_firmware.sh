#!/usr/bin/env bash
# Writes samples/demo-firmware.s28, the firmware file of ./build.sh demo: a
# few S2 records of text and a byte pattern in both halves of the flash
# (D0000-DFFFF and E0000-EFFFF), between an S0 header and an S8 end record.
# It is no program for any processor: it is for the simulated board only.
#
# Usage: scripts/make_demo_firmware.sh [OUT]     (default samples/demo-firmware.s28)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-samples/demo-firmware.s28}

hex_of_text() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F; }

# record TYPE ADDRESS_HEX DATA_HEX: one line with its length and checksum.
record() {
    local type=$1 address=$2 data=$3
    local body length sum=0 i
    length=$(( ${#address} / 2 + ${#data} / 2 + 1 ))
    body=$(printf '%02X' "$length")$address$data
    for (( i = 0; i < ${#body}; i += 2 )); do sum=$(( sum + 16#${body:i:2} )); done
    printf 'S%s%s%02X\n' "$type" "$body" $(( ~sum & 0xFF ))
}

# Data from ADDRESS on, 32 bytes to a record.
data_records() {
    local address=$(( 16#$1 )) data=$2 i
    for (( i = 0; i < ${#data}; i += 64 )); do
        record 2 "$(printf '%06X' $(( address + i / 2 )))" "${data:i:64}"
    done
}

pattern=""
for (( b = 0; b < 256; ++b )); do pattern+=$(printf '%02X' "$b"); done

{
    record 0 0000 "$(hex_of_text "demo-firmware")"
    data_records D0000 "$(hex_of_text "QM730C demo image for the simulated board (qm730sim) only. It is not a firmware: never write it to a real board. ")"
    data_records D0800 "$pattern"
    data_records E0000 "$(hex_of_text "Second half of the flash: E0000 to EFFFF. The image checksum is kept at EFFFE and EFFFF.")"
    record 8 000000 ""
} >"$out"
echo "$out"
