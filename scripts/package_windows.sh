#!/usr/bin/env bash
# Builds the Windows release archive: build-win/qm730ctl-VERSION-windows-x64.zip
# with qm730ctl.exe (linked statically: no DLLs needed), README.txt and the
# licence notes of what is linked into it. Checks the archive by running the
# unpacked qm730ctl.exe --version under Wine.
#
# Usage: scripts/package_windows.sh     (installs what it needs with apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake ninja-build g++-mingw-w64-x86-64 wine64 libcli11-dev googletest)
source scripts/lib/packages.sh
install_missing "${packages[@]}"

win_build=$root/build-win
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$win_build" -j "$(nproc)" --target qm730ctl
version=$(sed -n 's/^project(qm730c VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=qm730ctl-$version-windows-x64

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "$win_build/bin/qm730ctl.exe" "$stage/$name/"
x86_64-w64-mingw32-strip "$stage/$name/qm730ctl.exe"
# Windows editors want CR LF.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/$name/README.txt"
# The licence notes: the program's own licence (the tree's LICENSE file),
# then the notices of what is linked in as Debian ships them.
own_licence=""
for candidate in LICENSE LICENSE.txt LICENSE.md COPYING; do
    [ -f "$candidate" ] && own_licence=$candidate && break
done
[ -n "$own_licence" ] ||
    echo "warning: no LICENSE file at the top of the tree: LICENSES.txt lacks qm730ctl's own licence" >&2
{
    cat packaging/windows/LICENSES.txt
    if [ -n "$own_licence" ]; then
        printf '\n\n==== qm730ctl ====\n\n'
        cat "$own_licence"
    fi
    for package in libcli11-dev mingw-w64-x86-64-dev gcc-mingw-w64-x86-64-posix-runtime; do
        printf '\n\n==== %s ====\n\n' "$package"
        cat "/usr/share/doc/$package/copyright"
    done
} | sed 's/$/\r/' >"$stage/$name/LICENSES.txt"
archive=$win_build/$name.zip
rm -f "$archive"
(cd "$stage" && cmake -E tar cf "$archive" --format=zip "$name")

# The archive as an operator gets it: unpacked, the program starts alone.
mkdir "$stage/check"
(cd "$stage/check" && cmake -E tar xf "$archive")
export WINEPREFIX=${QM730_WINEPREFIX:-$win_build/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shown=$(/usr/lib/wine/wine64 "$stage/check/$name/qm730ctl.exe" --version </dev/null 2>&1 | tr -d '\r')
echo "$shown"
case "$shown" in
    *"$version"*) echo "$archive" ;;
    *) echo "qm730ctl.exe --version did not give version $version" >&2; exit 1 ;;
esac
