#!/usr/bin/env bash
# Builds the Debian package (build/qm730c_VERSION-1_ARCH.deb) and checks it
# as a clean Debian 12 would get it: unpacked with dpkg -x into a scratch
# folder, each program answers --version from there without a display, the
# manual pages, the menu entry and the icon, the table file's type, the
# AppStream record and the copyright file are in it (each valid), and its
# dependencies name the Debian package of every library the programs load.
#
# Usage: scripts/check_package.sh     (installs what it needs with apt-get)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build qt6-base-dev libjpeg-dev libgtest-dev libcli11-dev help2man desktop-file-utils
          shared-mime-info appstream)
source scripts/lib/packages.sh
install_missing "${packages[@]}"

fail() { echo "check_package: $*" >&2; exit 1; }

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
version=$(sed -n 's/^project(qm730c VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -f build/qm730c_*.deb
(cd build && cpack -G DEB >cpack.log 2>&1) || { cat build/cpack.log >&2; fail "cpack failed"; }
deb=$(ls build/qm730c_"$version"-*.deb)
echo "$deb"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# The programs, as installed, without a display.
for program in qm730c qm730ctl qm730sim; do
    [ -x "$root/usr/bin/$program" ] || fail "$program is not in the package"
    shown=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/$program" --version </dev/null) ||
        fail "$program --version failed"
    echo "$shown"
    [ "$shown" = "$program $version" ] || fail "$program --version said '$shown', not '$program $version'"
done

# Manual pages written by help2man from the programs' own help.
for program in qm730ctl qm730sim; do
    page=$root/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || fail "no manual page for $program"
    zcat "$page" | grep -q '^\.TH '"${program^^}"' "1"' || fail "$page is no manual page of $program"
    zcat "$page" | grep -q '^\.SH OPTIONS' || fail "$page does not list the options"
done
zcat "$root/usr/share/man/man1/qm730ctl.1.gz" | grep -q '^\.SS "qm730ctl flash"' ||
    fail "the manual page of qm730ctl does not explain its commands"

# The menu entry and its icon.
desktop=$root/usr/share/applications/qm730c.desktop
[ -f "$desktop" ] || fail "no menu entry"
desktop-file-validate "$desktop" || fail "the menu entry is not valid"
grep -qx 'Exec=qm730c %f' "$desktop" || fail "the menu entry does not start qm730c with the file"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon '$icon' for the menu entry"

# The table file's type, which the menu entry opens; dpkg's trigger of
# shared-mime-info builds the caches, so the package carries none of its own.
mime=$root/usr/share/mime/packages/qm730c.xml
[ -f "$mime" ] || fail "no type for table files"
type=$(sed -n 's/^MimeType=\(.*\);$/\1/p' "$desktop")
grep -q "<mime-type type=\"$type\">" "$mime" || fail "the menu entry opens '$type', which the package does not define"
[ ! -e "$root/usr/share/mime/mime.cache" ] || fail "the package carries a MIME cache of its own"

# The AppStream record and the copyright file (Debian's machine-readable
# format, with the licences of what the programs are built with).
metainfo=$root/usr/share/metainfo/org.example.qm730c.metainfo.xml
[ -f "$metainfo" ] || fail "no AppStream record"
appstreamcli validate --no-net "$metainfo" || fail "the AppStream record is not valid"
copyright=$root/usr/share/doc/qm730c/copyright
[ -f "$copyright" ] || fail "no copyright file"
head -n 1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "the copyright file is not in the machine-readable format"
for licence in Expat LGPL-3 IJG 'BSD-3-clause~CLI11'; do
    grep -qx "License: $licence" "$copyright" || fail "the copyright file lacks the $licence licence"
done

# Every library a program is linked with comes from a package the .deb
# depends on (what those libraries load in turn is their packages' matter).
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for program in qm730c qm730ctl qm730sim; do
    loaded=$(ldd "$root/usr/bin/$program")
    for name in $(readelf -d "$root/usr/bin/$program" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
        library=$(awk -v name="$name" '$1 == name && $3 ~ /^\// { print $3 }' <<<"$loaded")
        [ -n "$library" ] || fail "$program needs $name, which is not found"
        # dpkg knows a file by the path its package gave it: /lib or /usr/lib,
        # a link or its target.
        owner=""
        real=$(readlink -f "$library")
        for path in "$library" "$real" "${library#/usr}" "/usr${library#/usr}" "${real#/usr}" "/usr${real#/usr}"; do
            owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1) && break
        done
        [ -n "$owner" ] || fail "$library ($program) belongs to no Debian package"
        case ", $depends" in
            *", $owner "* | *", $owner,"* | *", $owner") ;;
            *) fail "$program loads $library from $owner, which the package does not depend on" ;;
        esac
    done
done
echo "check_package: $deb is sound"
