#!/usr/bin/env bash
# Builds everything and runs the whole test suite. With --asan (or HALVORN_ASAN=1) it also
# builds and runs the suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

asan=${HALVORN_ASAN:-0}
for arg in "$@"; do
  case "$arg" in
    --asan) asan=1 ;;
    *) echo "usage: scripts/test.sh [--asan]" >&2; exit 2 ;;
  esac
done

presets=(default)
[ "$asan" = 1 ] && presets+=(asan)

for p in "${presets[@]}"; do
  echo "== preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
  ctest --preset "$p"
done
