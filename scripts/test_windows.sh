#!/usr/bin/env bash
# The 32-bit Windows build against the Linux one, under 32-bit Wine:
# `razivu.exe call` against the Linux `razivu serve` and the other way round,
# and the Windows server's workers under load (tests/unit/test_windows_interop.cpp).
# Builds what is missing (the default and the mingw-i686 presets) and runs the
# test program once, so that one Wine prefix serves every case.
#
# Without 32-bit Wine or the mingw-w64 compiler it says so in one line and
# exits 0: the Linux lanes decide then. A failing test exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."

wine=${RAZIVU_WINE:-/usr/lib/wine/wine}
if [ ! -x "$wine" ] || ! command -v i686-w64-mingw32-g++-win32 >/dev/null; then
  echo "test_windows: skipped: 32-bit Wine ($wine, package wine32:i386) or i686-w64-mingw32-g++ is not installed"
  exit 0
fi

[ -x out/default/tests/test_windows_interop ] || scripts/build.sh default
[ -f out/mingw-i686/tools/razivu.exe ] || scripts/build.sh mingw-i686
# Rebuilt in case the sources changed since (cheap when nothing did).
cmake --build --preset default -j2 --target test_windows_interop razivu_tool >/dev/null
cmake --build --preset mingw-i686 -j2 >/dev/null

log=$(mktemp "${TMPDIR:-/tmp}/razivu-wine.XXXXXX")
trap 'rm -f "$log"' EXIT
status=0
RAZIVU_WINDOWS_BUILD="$PWD/out/mingw-i686" RAZIVU_WINE="$wine" \
  out/default/tests/test_windows_interop 2>&1 | tee "$log" || status=$?

passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p' "$log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:$/\1/p' "$log")
echo
echo "windows: ${passed:-0} passed, ${failed:-0} failed"
exit "$status"
