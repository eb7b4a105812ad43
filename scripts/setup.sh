#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (with --bench, also those the
# benchmarks compare with). Safe to run again: it only
# calls apt-get when a package is missing. apt-get's own output goes to a log file
# (build/setup.log, or $HALVORN_SETUP_LOG); one line says what was installed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build clang pkg-config
  libclang-rt-14-dev
  libsqlite3-dev sqlite3
  libssl-dev
  libplist-dev
  libicu-dev
  nlohmann-json3-dev
  libcurl4-openssl-dev
  libsystemd-dev dbus-daemon
  googletest libgtest-dev libgmock-dev libbenchmark-dev
)
# The benchmarks compare with tools people already use (clamscan, the duplicate finders)
# and read peak memory with /usr/bin/time; none of them is needed otherwise.
for arg in "$@"; do
  case "$arg" in
    --bench) packages+=(clamav jdupes fdupes rmlint time perl) ;;
    *) echo "usage: scripts/setup.sh [--bench]" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  log=${HALVORN_SETUP_LOG:-build/setup.log}
  mkdir -p "$(dirname "$log")"
  echo "setup: installing ${missing[*]} (log: $log)"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  if ! { "${sudo_cmd[@]}" apt-get update -qq &&
         "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    echo "setup: apt-get failed; the last lines of $log:" >&2
    tail -n 20 "$log" >&2
    exit 1
  fi
  echo "setup: installed ${#missing[@]} packages"
fi
