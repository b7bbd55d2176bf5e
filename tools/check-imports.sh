#!/usr/bin/env bash
# The shipped exe is started from the user's Downloads folder, where anything may lie beside it.
# The DLLs it imports statically are bound before its first instruction runs, so they must be
# known DLLs: Windows loads those from the system folder only, never from beside the exe. (These
# are known DLLs on every Windows from Vista on.) Every other DLL is delay-loaded, once the
# program has restricted the search to the system folder.
set -euo pipefail
exe=$1
format=${2:-pei-i386}
known='^(advapi32|comdlg32|gdi32|imm32|kernel32|msvcrt|ole32|oleaut32|rpcrt4|setupapi|shell32|shlwapi|user32|ws2_32)\.dll$'
objdump=i686-w64-mingw32-objdump
[ "$format" = pei-x86-64 ] && objdump=x86_64-w64-mingw32-objdump
file_type=$($objdump -f "$exe" | grep -o "file format $format\$" || true)
[ -n "$file_type" ] || { echo "not a $format file: $exe"; exit 1; }
bad=0
for dll in $($objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
  lower=$(echo "$dll" | tr 'A-Z' 'a-z')
  if [[ $lower =~ $known ]]; then echo "import: $dll"; else echo "import of a DLL that is no known DLL: $dll"; bad=1; fi
done
echo "size: $(stat -c %s "$exe") bytes"
exit $bad
