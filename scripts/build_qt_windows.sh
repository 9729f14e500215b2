#!/usr/bin/env bash
# Builds what the window needs on Windows from Debian's own sources, once per
# machine: Qt 6 (Core, Gui, Widgets, Test; the windows, offscreen and minimal
# platform plugins and the native style) as DLLs, and libjpeg-turbo as a
# static library, both cross-compiled with MinGW-w64 and installed into a
# cache folder outside the tree that later runs reuse:
#
#   ~/.cache/qm730/qt-6.4.2-mingw          (QM730_QT_WINDOWS overrides)
#
# Debian ships Qt's source but no Qt for MinGW. The source is the version of
# the host tools Debian installs (moc, rcc, uic), which the cross build runs.
# A stamp in the cache records the configuration (this script and the source
# versions): a changed script builds again, an unchanged one returns at once.
#
# Usage: scripts/build_qt_windows.sh [--print-prefix]
#   --print-prefix   prints the cache folder on standard output (after building;
#                    everything else goes to standard error)
# Adds a deb-src entry for the archive the host's Qt comes from when there is
# none, and installs what it needs with apt-get. Set QM730_QT_NICE=19 to build
# at the lowest priority. The build takes about 40 minutes of processor time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
script=$root/scripts/build_qt_windows.sh

prefix=${QM730_QT_WINDOWS:-$HOME/.cache/qm730/qt-6.4.2-mingw}
# With --print-prefix, standard output carries the folder and nothing else.
exec 3>&1
[ "${1:-}" = --print-prefix ] && exec 1>&2
say() { echo "$*"; }

packages=(cmake ninja-build dpkg-dev g++-mingw-w64-x86-64 qt6-base-dev qt6-base-dev-tools libjpeg62-turbo-dev)
source scripts/lib/packages.sh

# The versions Debian installed on the host: the sources must be these.
host_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }

stamp_text() {
    printf 'qt6-base %s\nlibjpeg-turbo %s\ncompiler %s\nscript %s\n' \
        "$(host_version qt6-base-dev)" "$(host_version libjpeg62-turbo-dev)" \
        "$(x86_64-w64-mingw32-g++-posix -dumpfullversion 2>/dev/null)" \
        "$(sha256sum "$script" "$root/cmake/mingw-w64-x86_64.cmake" | cut -d' ' -f1 | tr '\n' ' ')"
}

finish() {
    [ "${1:-}" = --print-prefix ] && echo "$prefix" >&3
    exit 0
}

install_missing "${packages[@]}"
stamp=$prefix/qm730-build.stamp
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$(stamp_text)" ]; then
    say "Qt for Windows: up to date in $prefix"
    finish "$@"
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# A deb-src entry for the archive that installed the host's Qt, copied from
# its deb entry (same URIs, suites, components and key), when apt knows no
# source for that version yet.
has_source() {  # has_source PACKAGE VERSION
    apt-cache showsrc "$1" 2>/dev/null | grep -qx "Version: $2"
}
add_source_entry() {
    local site
    site=$(apt-cache policy qt6-base-dev | awk '/^ \*\*\*/ { getline; print $2; exit }')
    [ -n "$site" ] || { echo "cannot tell which archive installed qt6-base-dev" >&2; exit 1; }
    local entries
    entries=$(
        for f in /etc/apt/sources.list.d/*.sources; do
            [ "$f" = /etc/apt/sources.list.d/qm730-deb-src.sources ] && continue
            # Each stanza of type deb whose URIs name the site, again as deb-src.
            awk -v site="${site%/}" 'BEGIN { RS = ""; ORS = "\n\n" }
                {
                    n = split($0, line, "\n"); deb = 0; here = 0
                    for (i = 1; i <= n; i++) {
                        k = split(line[i], w, /[ \t]+/)
                        if (w[1] == "Types:") for (j = 2; j <= k; j++) deb = deb || w[j] == "deb"
                        if (w[1] == "URIs:") for (j = 2; j <= k; j++) { sub(/\/$/, "", w[j]); here = here || w[j] == site }
                    }
                    if (deb && here) { sub(/Types:[^\n]*/, "Types: deb-src"); print }
                }' "$f"
        done
        # One-line entries (sources.list), in the same form.
        for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
            [ -f "$f" ] || continue
            awk -v site="${site%/}" '$1 == "deb" {
                i = 2; opts = ""
                if ($2 ~ /^\[/) { while ($i !~ /\]$/) { opts = opts " " $i; i++ } opts = opts " " $i; i++ }
                uri = $i; sub(/\/$/, "", uri)
                if (uri != site) next
                printf "Types: deb-src\nURIs: %s\nSuites: %s\nComponents:", $i, $(i + 1)
                for (j = i + 2; j <= NF; j++) printf " %s", $j
                if (opts ~ /signed-by=/) { s = opts; sub(/.*signed-by=/, "", s); sub(/[] ].*/, "", s); printf "\nSigned-By: %s", s }
                printf "\n\n" }' "$f"
        done
    )
    [ -n "$entries" ] || { echo "no deb entry for $site to copy as deb-src" >&2; exit 1; }
    say "adding /etc/apt/sources.list.d/qm730-deb-src.sources for $site"
    printf '# Source packages of the archive the host'\''s Qt comes from (scripts/build_qt_windows.sh).\n%s\n' \
        "$entries" | $sudo tee /etc/apt/sources.list.d/qm730-deb-src.sources >/dev/null
    $sudo apt-get -o DPkg::Lock::Timeout=600 update
}

qt_version=$(host_version qt6-base-dev)
jpeg_version=$(host_version libjpeg62-turbo-dev)
jpeg_version=${jpeg_version#*:}  # the epoch is no part of the source's name
if ! has_source qt6-base "$qt_version" || ! has_source libjpeg-turbo "$(host_version libjpeg62-turbo-dev)"; then
    add_source_entry
fi
has_source qt6-base "$qt_version" || { echo "apt has no source of qt6-base $qt_version" >&2; exit 1; }

# Sources and build trees live beside the result, outside the tree.
cache=$(dirname "$prefix")
sources=$cache/sources
build=$cache/build-$(basename "$prefix")
mkdir -p "$sources"
fetch() {  # fetch PACKAGE VERSION: unpacks the source (patches applied); prints its folder
    local upstream=${2#*:}
    local dir=$sources/$1-${upstream%-*}
    if [ ! -d "$dir" ]; then
        (cd "$sources" && apt-get source --only-source "$1=$2" >&2)
    fi
    [ -d "$dir" ] || { echo "apt-get source $1=$2 gave no $dir" >&2; exit 1; }
    echo "$dir"
}
qt_source=$(fetch qt6-base "$qt_version")
jpeg_source=$(fetch libjpeg-turbo "$(host_version libjpeg62-turbo-dev)")
say "sources: $qt_source, $jpeg_source"

nice=(nice -n "${QM730_QT_NICE:-0}")
jobs=$(nproc)
rm -rf "$build" "$prefix"
mkdir -p "$build" "$prefix"

# The program's own cross compiler; Qt's build starts nothing through Wine.
toolchain=$build/toolchain.cmake
cat >"$toolchain" <<EOF
include($root/cmake/mingw-w64-x86_64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR "")
EOF

say "libjpeg-turbo $jpeg_version (static)"
"${nice[@]}" cmake -S "$jpeg_source" -B "$build/jpeg" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DWITH_JPEG8=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=OFF >"$build/jpeg-configure.log"
"${nice[@]}" cmake --build "$build/jpeg" -j "$jobs" --target jpeg-static >"$build/jpeg-build.log"
# Only the library and its headers: the project's install step wants all its
# programs built as well.
mkdir -p "$prefix/lib" "$prefix/include"
cp "$build/jpeg/libjpeg.a" "$prefix/lib/"
cp "$jpeg_source"/{jpeglib.h,jmorecfg.h,jerror.h} "$build/jpeg/jconfig.h" "$prefix/include/"

say "Qt $qt_version"
# Everything the program does not use is left out, so that a machine without
# the cache (CI) builds it in as little time as possible.
off=(
    # modules (with OpenGL its dynamic loading, or the windows platform
    # plugin does not build; OpenGL must also be asked for as "no", as
    # configure -no-opengl does, or configure takes its absence for a
    # failed check)
    network sql dbus opengl opengl_dynamic dynamicgl vulkan printsupport concurrent xml
    # Qt Gui parts the window never uses
    imageformatplugin jpeg gif ico pdf textodfwriter textmarkdownreader textmarkdownwriter
    movie sessionmanager systemtrayicon
    # the Direct2D platform plugin, and with it DirectWrite 3's font database
    # (Qt builds that only with Direct2D); tablets (the dfsg source lacks
    # wintab). Fonts come through GDI, Windows' default for Qt.
    direct2d directwrite3 tabletevent
    # widgets the program does not show
    calendarwidget colordialog dial dockwidget fontcombobox fontdialog keysequenceedit
    lcdnumber mdiarea printdialog printpreviewdialog splashscreen syntaxhighlighter
    undocommand undogroup undostack undoview wizard
)
feature_args=()
for f in "${off[@]}"; do feature_args+=("-DFEATURE_$f=OFF"); done

"${nice[@]}" cmake -S "$qt_source" -B "$build/qt" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++ \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DINPUT_opengl=no "${feature_args[@]}" >"$build/qt-configure.log"
"${nice[@]}" cmake --build "$build/qt" -j "$jobs"
"${nice[@]}" cmake --install "$build/qt" >"$build/qt-install.log"

# What the release archive says about these libraries: their licences and
# where their source comes from.
notes=$prefix/share/qm730
mkdir -p "$notes"
cp "$qt_source/LICENSES/LGPL-3.0-only.txt" "$qt_source/LICENSES/GPL-3.0-only.txt" "$notes/"
cp "$qt_source/debian/copyright" "$notes/qt6-base.copyright"
cp "$jpeg_source/LICENSE.md" "$notes/libjpeg-turbo.LICENSE.md"
cp "$jpeg_source/README.ijg" "$notes/libjpeg-turbo.README.ijg"
cp "$jpeg_source/debian/copyright" "$notes/libjpeg-turbo.copyright"
{
    echo "Qt $qt_version: Debian's source package qt6-base, version $qt_version"
    echo "    (apt-get source qt6-base=$qt_version, or from https://sources.debian.org/src/qt6-base/$qt_version/"
    echo "    and https://snapshot.debian.org/package/qt6-base/$qt_version/), with Debian's patches,"
    echo "    built unmodified as shared libraries with Debian's MinGW-w64 GCC $(host_version g++-mingw-w64-x86-64-posix) and"
    echo "    cmake -DBUILD_SHARED_LIBS=ON -DQT_QMAKE_TARGET_MKSPEC=win32-g++ -DINPUT_opengl=no ${feature_args[*]}"
    echo "libjpeg-turbo $jpeg_version: Debian's source package libjpeg-turbo, version $(host_version libjpeg62-turbo-dev)"
    echo "    (apt-get source libjpeg-turbo=$(host_version libjpeg62-turbo-dev)), built as a static library without SIMD"
} >"$notes/SOURCES.txt"

stamp_text >"$stamp"
# The build tree (about 850 MB) is of no use once installed; the sources
# stay for the next build.
rm -rf "$build"
say "Qt for Windows built into $prefix"
finish "$@"
