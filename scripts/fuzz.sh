#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz and runs them:
#
#   scripts/fuzz.sh SECONDS [TARGET...]   each target for that long, growing
#                                         its corpus in build-fuzz/corpus
#   scripts/fuzz.sh --ci [TARGET...]      each target for a fixed number of
#                                         runs from the seed corpus (CI)
#
# Targets: board_frame download_frame firmware_text table_file upload_blocks
# (default: all). Seeds are in fuzz/corpus/TARGET. An input that crashes a
# target or trips a sanitizer is kept in build-fuzz/artifacts/TARGET and the
# script fails; reproduce it with build-fuzz/bin/fuzz_TARGET FILE.
# Installs clang and libFuzzer with apt-get if they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(clang libfuzzer-14-dev libclang-rt-14-dev cmake ninja-build)
all_targets=(board_frame download_frame firmware_text table_file upload_blocks)

source scripts/lib/packages.sh

# The runs of each target in CI: about a quarter of a minute of each on a
# CI machine (an upload of a whole image per run is the slowest), so that
# the whole CI run stays well under its half hour.
ci_runs() {
    case "$1" in
        upload_blocks) echo 1000 ;;
        board_frame) echo 4000 ;;
        table_file) echo 8000 ;;
        *) echo 20000 ;;
    esac
}

# The longest input each target is given: a table file longer than the
# image, a frame with the logon answer before it, a data frame past the
# frame buffer, a whole upload.
max_len() {
    case "$1" in
        table_file) echo 65536 ;;
        download_frame) echo 10000 ;;
        board_frame) echo 12000 ;;
        upload_blocks) echo 40000 ;;
        *) echo 8192 ;;
    esac
}

usage() {
    echo "usage: $0 SECONDS [TARGET...] | --ci [TARGET...]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
mode=$1
shift
if [ "$mode" != --ci ] && ! [[ "$mode" =~ ^[0-9]+$ ]]; then usage; fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

install_missing "${packages[@]}"
build=$root/build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM730_FUZZ=ON \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
passed=0
failed=0
for target in "${targets[@]}"; do
    program=$build/bin/fuzz_$target
    seeds=$root/fuzz/corpus/$target
    [ -x "$program" ] && [ -d "$seeds" ] || { echo "no fuzz target $target" >&2; exit 2; }
    artifacts=$build/artifacts/$target/
    mkdir -p "$artifacts"
    log=$build/fuzz_$target.log
    options=(-max_len="$(max_len "$target")" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
             -artifact_prefix="$artifacts")
    if [ "$mode" = --ci ]; then
        # New inputs go to a scratch folder; the seeds stay as they are.
        corpus=$(mktemp -d)
        options+=(-runs="$(ci_runs "$target")" -seed=730)
    else
        corpus=$build/corpus/$target
        mkdir -p "$corpus"
        options+=(-max_total_time="$mode")
    fi
    printf '== %s ' "$target"
    status=0
    "$program" "${options[@]}" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
    [ "$mode" = --ci ] && rm -rf "$corpus"
    # The last status line: "#N DONE cov: C ft: F corp: ..."
    summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    seconds=$(grep -oE 'Done [0-9]+ runs in [0-9]+ second' "$log" | grep -oE '[0-9]+ second' | grep -oE '[0-9]+' || true)
    if [ "$status" -eq 0 ] && [ -n "$summary" ]; then
        passed=$((passed + 1))
        echo "ok: ${runs:-?} runs in ${seconds:-?} s, $(echo "$summary" | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[^ ]+')"
    else
        failed=$((failed + 1))
        echo "FAILED (exit status $status)"
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written|fuzz/.*\.cpp:[0-9]+' "$log" | head -n 20 | sed 's/^/   /'
        echo "   whole output: $log"
    fi
done
echo
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
