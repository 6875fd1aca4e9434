#!/usr/bin/env bash
# check-imports.sh EXE LIST: fails when EXE imports a function named in LIST (functions that
# Windows 2000 SP4 lacks). Reads the import table with the MinGW objdump.
set -euo pipefail
exe=$1
list=$2
imports=$(i686-w64-mingw32-objdump -p "$exe" | awk '
  /DLL Name:/ { dll = tolower($3); next }
  /^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[A-Za-z_]/ && dll != "" { print dll "!" $3 }')
[ -n "$imports" ] || { echo "check-imports: no imports read from $exe" >&2; exit 1; }

bad=0
while IFS= read -r rule; do
  case "$rule" in ''|'#'*) continue ;; esac
  if [[ "$rule" == *'!'* ]]; then
    dll=${rule%%!*}
    name=${rule#*!}
    if [[ "$name" == '*_s' ]]; then
      hits=$(grep -iE "^${dll}![A-Za-z0-9_]+_s$" <<<"$imports" || true)
    else
      hits=$(grep -ixF "${dll}!${name}" <<<"$imports" || true)
    fi
  else
    hits=$(grep -E "!${rule}$" <<<"$imports" || true)
  fi
  if [ -n "$hits" ]; then
    echo "check-imports: $exe imports a function Windows 2000 lacks: $hits"
    bad=1
  fi
done <"$list"
count=$(wc -l <<<"$imports")
[ "$bad" -eq 0 ] && echo "check-imports: $count imports of $(basename "$exe"), none later than Windows 2000"
exit "$bad"
