#!/usr/bin/env bash
# The desktop's view of the installed program: installs the build into a
# scratch prefix as `cmake --install` does, then checks that the menu entry
# passes desktop-file-validate and opens the table type, that the table type
# is a valid shared-mime-info package which maps *.tbl to it, that the
# AppStream record passes `appstreamcli validate --no-net`, and that the
# copyright file is in Debian's machine-readable format with the licences
# of what the programs are built with. Ends with 77 (skipped) when a
# validator is not installed; ./build.sh installs them.
#
# Usage: check_desktop_files.sh BUILD_DIR
set -euo pipefail
build=$1

for tool in desktop-file-validate update-mime-database appstreamcli; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import debian.copyright' 2>/dev/null || { echo "skipped: python3-debian is not installed"; exit 77; }

fail() { echo "check_desktop_files: $*" >&2; exit 1; }

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1 || fail "cmake --install failed"
share=$prefix/share

desktop=$share/applications/qm730c.desktop
desktop-file-validate "$desktop" || fail "the menu entry is not valid"
grep -qx 'Exec=qm730c %f' "$desktop" || fail "the menu entry does not hand qm730c the file"
grep -qx 'MimeType=application/x-qm730c-table;' "$desktop" || fail "the menu entry declares no table type"

# The type as the desktop reads it: the caches update-mime-database writes.
mime=$prefix/mime-check
mkdir -p "$mime/packages"
cp "$share/mime/packages/qm730c.xml" "$mime/packages/"
update-mime-database "$mime" >/dev/null 2>&1 || fail "update-mime-database refused the type"
grep -qx '50:application/x-qm730c-table:\*\.tbl' "$mime/globs2" || fail "*.tbl is not the table type"
grep -q '40,959 bytes' "$mime/application/x-qm730c-table.xml" || fail "the type does not describe the table"

metainfo=$share/metainfo/org.example.qm730c.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "the AppStream record is not valid"
grep -q '<launchable type="desktop-id">qm730c.desktop</launchable>' "$metainfo" ||
    fail "the AppStream record does not name the menu entry"

/usr/bin/python3 - "$share/doc/qm730c/copyright" <<'PY' || fail "the copyright file is not machine-readable"
import sys
from debian import copyright
with open(sys.argv[1]) as f:
    licences = {p.license.synopsis for p in copyright.Copyright(f, strict=True).all_license_paragraphs()}
needed = {"Expat", "LGPL-3", "IJG", "BSD-3-clause~libjpeg-turbo", "BSD-3-clause~CLI11"}
sys.exit(0 if needed <= licences else "missing: " + ", ".join(sorted(needed - licences)))
PY
echo "check_desktop_files: menu entry, table type, AppStream record and copyright file are sound"
