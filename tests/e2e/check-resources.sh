#!/usr/bin/env bash
# check-resources.sh EXE STRINGS: decompiles the resources of EXE with windres and checks them:
# dialog 102 with its eleven controls exactly as expected-dialog.rc gives them, both string
# tables holding every id and text of STRINGS (resources/strings.txt) and nothing else, the
# manifest and the version block.
set -euo pipefail
exe=$1
strings=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
i686-w64-mingw32-windres -i "$exe" -O rc >"$work/all.rc"
failed=0
fail() { echo "check-resources: $*"; failed=1; }

# The dialog, line by line.
sed -n '/^102 DIALOGEX/,/^END/p' "$work/all.rc" >"$work/dialog.rc"
diff -u "$here/expected-dialog.rc" "$work/dialog.rc" >"$work/dialog.diff" ||
  { fail "dialog 102 differs:"; cat "$work/dialog.diff"; }

# The string tables, decoded from windres's escapes back to the source's form.
perl -CSD -ne '
  if (/^LANGUAGE (\d+), (\d+)/) { $lang = $1 + $2 * 1024; next }
  next unless /^  (\d+), (L?)"(.*)"\s*$/ && defined $lang;
  ($id, $wide, $t) = ($1, $2, $3);
  $t =~ s/""/\x{1}/g;
  $t =~ s/\\x([0-9a-fA-F]{4})/chr(hex($1))/ge if $wide;
  $t =~ s/\\([0-7]{1,3})/chr(oct($1))/ge;
  $t =~ s/\\"/\x{1}/g;
  $t =~ s/\\n/\x{2}/g;
  $t =~ s/\x{1}/\\"/g;
  $t =~ s/\x{2}/\\n/g;
  print "$lang\t$id\t$t\n";' "$work/all.rc" | sort >"$work/strings.found"
grep -v -e '^#' -e '^$' "$strings" | sort >"$work/strings.expected"
diff -u "$work/strings.expected" "$work/strings.found" >"$work/strings.diff" ||
  { fail "string tables differ from $(basename "$strings"):"; cat "$work/strings.diff"; }

# The manifest is stored as it was written; the version block decompiles to its values.
for text in 'level="requireAdministrator"' 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' \
            '{e2011457-1546-43c5-a5fe-008deee3d3f0}' '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
            '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}'; do
  grep -aqF "$text" "$exe" || fail "the manifest lacks $text"
done
for value in '"CompanyName", "OSTREL Software"' '"OriginalFilename", "zorPurge.exe"' \
             '"FileVersion", "1.0.0.0"' '"ProductVersion", "1.0.0.0"'; do
  grep -qF "VALUE $value" "$work/all.rc" || fail "the version block lacks $value"
done
grep -q '^1 VERSIONINFO' "$work/all.rc" || fail "no version block"
for icon in 128 139; do
  grep -qE "^$icon 14 /\* RT_GROUP_ICON" "$work/all.rc" || fail "no icon $icon"
done

[ "$failed" -eq 0 ] && echo "check-resources: dialog 102, $(wc -l <"$work/strings.found") strings, manifest, version and icons as expected"
exit "$failed"
