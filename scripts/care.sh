#!/usr/bin/env bash
# Builds what the main job needs (the halvorn command and the bundle, not the tests) when
# needed, and runs it on the user's real home folder: a one-click care scan that only
# reports (nothing is removed without --fix).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target halvorn halvorn_resources HVNRemove >/dev/null
exec ./build/halvorn care "$@"
