#!/bin/sh
# Checks that the plug-in module exports exactly _A130 and _A129 (C linkage) and nothing else
# of its own. Usage: check_exports.sh <module.so>
set -eu
module="$1"
symbols=$(nm -D --defined-only "$module" | awk 'NF >= 3 { print $3 }' | sort | tr '\n' ' ')
if [ "$symbols" = "_A129 _A130 " ]; then
  echo "exports: $symbols"
  exit 0
fi
echo "unexpected exported symbols: $symbols" >&2
exit 1
