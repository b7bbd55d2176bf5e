#!/usr/bin/env bash
# The shipped exe must need nothing beside the system DLLs.
set -euo pipefail
exe=$1
format=${2:-pei-i386}
allowed='^(kernel32|user32|gdi32|comctl32|shell32|shlwapi|advapi32|winhttp|msvcrt)\.dll$'
objdump=i686-w64-mingw32-objdump
[ "$format" = pei-x86-64 ] && objdump=x86_64-w64-mingw32-objdump
file_type=$($objdump -f "$exe" | grep -o "file format $format\$" || true)
[ -n "$file_type" ] || { echo "not a $format file: $exe"; exit 1; }
bad=0
for dll in $($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
  lower=$(echo "$dll" | tr 'A-Z' 'a-z')
  if [[ $lower =~ $allowed ]]; then echo "import: $dll"; else echo "unexpected import: $dll"; bad=1; fi
done
echo "size: $(stat -c %s "$exe") bytes"
exit $bad
