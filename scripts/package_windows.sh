#!/usr/bin/env bash
# Builds the Windows release archive, build-win/qm730c-VERSION-windows-x64.zip:
# one folder with
#  - qm730c.exe, the window, with what it loads beside it (the folder
#    cmake --install makes, cmake/install_windows.cmake): Qt's DLLs as Qt
#    built them, platforms/qwindows.dll, styles/qwindowsvistastyle.dll and the
#    MinGW runtime DLLs;
#  - qm730ctl.exe, linked statically: it needs nothing beside it;
#  - README.txt for operators and LICENSES.txt, the licence notes of all of
#    it and where Qt's source comes from.
# Qt for Windows comes from scripts/build_qt_windows.sh (built once, then
# taken from its cache). The archive is checked as an operator gets it:
# unpacked into a temporary folder, both programs start there under Wine with
# nothing else on the path: qm730ctl.exe gives its version, qm730c.exe shows
# its window on a virtual display, loads its platform plugin and its style
# from the folder, and ends when the window is closed.
#
# Usage: scripts/package_windows.sh     (installs what it needs with apt-get)
# Prints the archive's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(cmake ninja-build g++-mingw-w64-x86-64 wine64 libcli11-dev googletest xvfb xdotool)
source scripts/lib/packages.sh
install_missing "${packages[@]}"

qt=$(scripts/build_qt_windows.sh --print-prefix)
win_build=$root/build-win
cmake -S . -B "$win_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$qt" >/dev/null
cmake --build "$win_build" -j "$(nproc)" --target qm730c qm730ctl
version=$(sed -n 's/^project(qm730c VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=qm730c-$version-windows-x64

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# The programs stripped of their debugging sections; Qt's DLLs as they are.
cmake --install "$win_build" --prefix "$stage/$name" --strip >/dev/null
# Windows editors want CR LF.
sed 's/$/\r/' packaging/windows/README.txt >"$stage/$name/README.txt"
# The licence notes: the program's own licence (the tree's LICENSE file),
# then the notices of what is in the folder, as Debian ships them with the
# packages and sources it was built from.
own_licence=""
for candidate in LICENSE LICENSE.txt LICENSE.md COPYING; do
    [ -f "$candidate" ] && own_licence=$candidate && break
done
[ -n "$own_licence" ] ||
    echo "warning: no LICENSE file at the top of the tree: LICENSES.txt lacks the programs' own licence" >&2
notes=$qt/share/qm730
section() { printf '\n\n==== %s ====\n\n' "$1"; }
{
    cat packaging/windows/LICENSES.txt
    if [ -n "$own_licence" ]; then
        section "qm730c and qm730ctl"
        cat "$own_licence"
    fi
    section "Where Qt's and libjpeg-turbo's source comes from"
    cat "$notes/SOURCES.txt"
    section "Qt: GNU Lesser General Public License version 3"
    cat "$notes/LGPL-3.0-only.txt"
    section "Qt: GNU General Public License version 3 (which the LGPL extends)"
    cat "$notes/GPL-3.0-only.txt"
    section "Qt and the libraries built into its DLLs: Debian's copyright file of qt6-base"
    cat "$notes/qt6-base.copyright"
    section "libjpeg-turbo"
    cat "$notes/libjpeg-turbo.LICENSE.md" "$notes/libjpeg-turbo.README.ijg"
    section "libjpeg-turbo: Debian's copyright file"
    cat "$notes/libjpeg-turbo.copyright"
    for package in libcli11-dev mingw-w64-x86-64-dev gcc-mingw-w64-x86-64-posix-runtime; do
        section "$package"
        cat "/usr/share/doc/$package/copyright"
    done
} | sed 's/$/\r/' >"$stage/$name/LICENSES.txt"
archive=$win_build/$name.zip
rm -f "$archive"
(cd "$stage" && cmake -E tar cf "$archive" --format=zip "$name")

# The archive as an operator gets it: unpacked, each program starts from its
# folder with nothing on the path but Windows' own. The window needs a
# display: a virtual one of its own, and a Wine prefix of its own whose
# desktop starts on it (a Wine desktop keeps the display it started with).
mkdir "$stage/check"
(cd "$stage/check" && cmake -E tar xf "$archive")
unpacked=$stage/check/$name
export WINEPREFIX=$win_build/wineprefix-release WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM QT_QPA_PLATFORM_PLUGIN_PATH QT_QPA_FONTDIR QT_STYLE_OVERRIDE
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
"$wineserver" -k 2>/dev/null || true
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$stage/display" >/dev/null 2>&1 &
xvfb=$!
trap '"$wineserver" -k 2>/dev/null; kill "$xvfb" 2>/dev/null; rm -rf "$stage"' EXIT
for _ in $(seq 100); do [ -s "$stage/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$stage/display")
[ -f "$WINEPREFIX/system.reg" ] || { "$wine" wineboot -i >/dev/null 2>&1; "$wineserver" -w; }

failed=0
shown=$(cd "$unpacked" && timeout 60 "$wine" ./qm730ctl.exe --version </dev/null 2>&1 | tr -d '\r') || true
echo "qm730ctl.exe --version: $shown"
case "$shown" in
    *"$version"*) ;;
    *) echo "qm730ctl.exe from the archive did not give version $version" >&2; failed=1 ;;
esac
# The window: it shows under its caption, loads its DLLs and plugins from
# the folder (Wine's loader says where from) and ends when Alt+F4 closes it.
log=$stage/loaded.log
(cd "$unpacked" && WINEDEBUG=-all,+loaddll exec timeout 120 "$wine" ./qm730c.exe) </dev/null >"$log" 2>&1 &
program=$!
window=$(timeout 60 xdotool search --sync --name '^QM730C  --  Corvane$' | head -n 1) || true
if [ -n "$window" ]; then
    echo "qm730c.exe shows its window"
    sleep 1
    xdotool windowfocus --sync "$window" key alt+F4
else
    echo "qm730c.exe showed no window captioned 'QM730C  --  Corvane'" >&2
    failed=1
fi
status=0
wait "$program" || status=$?
[ "$status" = 0 ] || { echo "qm730c.exe ended with status $status" >&2; failed=1; }
# What was loaded as a native (not Wine's own) DLL, as paths below the folder.
loaded=$(sed -n 's/.*Loaded L"\(.*\)" at .*: native$/\1/p' "$log" | sed 's/\\\\/\//g')
echo "qm730c.exe loaded:"
sed 's/^/  /' <<<"$loaded"
for file in qm730c.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
    grep -q "/$name/$file\$" <<<"$loaded" || { echo "qm730c.exe did not load $file from the archive's folder" >&2; failed=1; }
done
if grep -v "/$name/" <<<"$loaded"; then
    echo "qm730c.exe loaded the DLLs above from outside the archive's folder" >&2
    failed=1
fi
[ "$failed" -eq 0 ] || exit 1
echo "$archive"
