#!/usr/bin/env bash
# Builds Halvorn when needed and runs the main job on the user's real home folder:
# a one-click care scan that only reports (nothing is removed without --fix).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
exec ./build/halvorn care "$@"
