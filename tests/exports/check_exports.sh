#!/bin/sh
# usage: check_exports.sh LIBRARY NAME...
# Fails unless the defined dynamic symbols of LIBRARY are exactly NAME...
# NM names the nm that reads the library's architecture (default: nm).
set -eu
library=$1
shift
actual=$("${NM:-nm}" -D --defined-only "$library" | awk '{print $3}' | sort)
expected=$(printf '%s\n' "$@" | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported: $(echo $actual)"
  echo "expected: $(echo $expected)"
  exit 1
fi
echo "exports: $(echo $actual)"
