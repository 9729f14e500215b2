#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in a
# build tree of its own and runs the whole test suite there, the windows
# offscreen. Any finding fails the run: the first one ends the program that
# made it (and with it the test), leaks included.
#
# Usage: scripts/test_sanitized.sh [BUILD_DIR]   (default: build-asan)
# Needs what ./build.sh installs; installs it with apt-get if it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(build-essential cmake ninja-build qt6-base-dev libjpeg-dev libgtest-dev libcli11-dev help2man)

source scripts/lib/packages.sh

step() { printf '\n== %s (%ds)\n' "$1" "$SECONDS"; }

step "packages"
install_missing "${packages[@]}"

build=${1:-build-asan}
step "sanitized build in $build"
# Unoptimised with line tables only: instrumented code at -O1 takes three
# times as long to compile, which the tests' run (mostly waiting on the line)
# does not win back; the reports still point at the right lines, and
# assertions stay on.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" \
    -DQM730_SANITIZE=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

step "tests under the sanitizers"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export QT_QPA_PLATFORM=offscreen
cd "$build"
# Three a core, as ./build.sh test runs them: most wait on the simulated board.
ctest --output-on-failure -j "$(($(nproc) * 3))"
step "done"
