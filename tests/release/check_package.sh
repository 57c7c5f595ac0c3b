#!/usr/bin/env bash
# The zip holds exactly the two programs, the README and the license.
set -euo pipefail
zip=$1
listed=$(cmake -E tar tf "$zip" | sed 's|^[^/]*/||' | grep -v '^$' | sort | tr '\n' ' ')
expected="LICENSE QuibShare.exe QuibShareCheck.exe README.md "
if [ "$listed" != "$expected" ]; then
  echo "package holds: $listed; expected: $expected"
  exit 1
fi
echo "package holds: $listed"
