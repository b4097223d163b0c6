#!/usr/bin/env bash
# Cross-builds the core and its unit tests for 64-bit Windows with MinGW-w64
# into build-windows/ at the top of the repository (or $OVIX_WINDOWS_BUILD_DIR)
# and runs the test program under Wine in a throwaway prefix. Exits non-zero
# when the build or a test fails. A missing cross compiler or Wine is a
# failure too, unless OVIX_WINDOWS_OPTIONAL=1 turns it into a skip.
#
#   tests/windows/run.sh [GTEST ARGUMENTS...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${OVIX_WINDOWS_BUILD_DIR:-$root/build-windows}

# Debian installs Wine's loader outside PATH when the "wine" wrapper package
# is not there.
wine=""
for candidate in /usr/lib/wine/wine64 wine64; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$(command -v "$candidate")
    break
  fi
done
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  missing+=("x86_64-w64-mingw32-g++-posix (g++-mingw-w64-x86-64-posix)")
[ -n "$wine" ] || missing+=("wine64")
if [ ${#missing[@]} -gt 0 ]; then
  if [ "${OVIX_WINDOWS_OPTIONAL:-0}" = 1 ]; then
    echo "tests/windows: SKIPPED (OVIX_WINDOWS_OPTIONAL=1), missing: ${missing[*]}"
    exit 0
  fi
  echo "tests/windows: missing: ${missing[*]}" >&2
  echo "tests/windows: scripts/setup test installs them; OVIX_WINDOWS_OPTIONAL=1 skips instead" >&2
  exit 1
fi
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
  echo "tests/windows: missing /usr/src/googletest (package googletest)" >&2
  exit 1
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)

cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVIX_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

prefix=$(mktemp -d)
# The prefix's server outlives the program by a few seconds: stop it first.
trap 'if [ -n "$wineserver" ]; then WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true; fi
rm -rf "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all
# No Mono or Gecko: the prefix is made without offering to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Making the prefix takes a while and reports on the 32-bit part, which the
# 64-bit tests do not need.
if ! "$wine" wineboot --init >"$build/wineboot.log" 2>&1; then
  cat "$build/wineboot.log" >&2
  echo "tests/windows: Wine could not make its prefix" >&2
  exit 1
fi

status=0
"$wine" "$build/ovix_unit_tests.exe" --gtest_brief=1 "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "tests/windows: FAILED under Wine (exit status $status)" >&2
fi
exit "$status"
