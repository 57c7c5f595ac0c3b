#!/usr/bin/env bash
# Fails when an executable imports a DLL that a clean Windows does not have.
set -euo pipefail
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
system='^(kernel32|user32|gdi32|ole32|oleaut32|shell32|shcore|advapi32|combase|msvcrt|ucrtbase|ntdll|bcrypt|shlwapi|api-ms-win-[a-z0-9-]+)\.dll$'
status=0
count=0
while read -r dll; do
  count=$((count + 1))
  if [[ ! ${dll,,} =~ $system ]]; then
    echo "not part of Windows: $dll"
    status=1
  fi
done < <("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "$count imported DLLs checked in $(basename "$exe")"
[ "$count" -gt 0 ] || { echo "no import table found"; exit 1; }
exit $status
