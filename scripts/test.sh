#!/usr/bin/env bash
# Installs what is missing, builds and runs every test in the default and the
# sanitizer build, checks the installed package, runs each fuzz target for a
# bounded time, builds the 32-bit Windows DLL and checks its export list, and
# runs the C API tests of the 64-bit Windows build under wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

step() { printf '\n=== %s\n' "$*"; }
log=$(mktemp "${TMPDIR:-/tmp}/razivu-ctest.XXXXXX")
trap 'rm -f "$log"' EXIT
# Runs ctest for a preset and keeps its summary line for the closing count.
run_ctest() {
  local preset=$1; shift
  env "$@" ctest --preset "$preset" 2>&1 | tee -a "$log"
  return "${PIPESTATUS[0]}"
}

step "default build (g++)"
scripts/build.sh default
step "tests, default build"
run_ctest default

step "debug build (g++): every build type stays warning-free"
scripts/build.sh debug

step "install: CMake package and pkg-config file"
scripts/check_install.sh

step "sanitizer build (clang++, ASan + UBSan)"
scripts/build.sh asan
step "tests, sanitizer build"
run_ctest asan ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

step "fuzz targets"
scripts/fuzz.sh "${RAZIVU_FUZZ_SECONDS:-30}"

step "32-bit Windows DLL (mingw-w64 i686)"
scripts/build.sh mingw-i686
cmake -DLIB=out/mingw-i686/razivu.dll -DTOOL=i686-w64-mingw32-objdump \
      -DLIST=library/exports.txt -P tests/check_exports.cmake

step "64-bit Windows build, C API tests under wine64"
scripts/build.sh mingw-x86_64
run_ctest mingw-x86_64

step "32-bit Windows and Linux calling each other, under 32-bit Wine"
scripts/test_windows.sh 2>&1 | tee -a "$log"
[ "${PIPESTATUS[0]}" -eq 0 ]

# One closing line over every test run.
total=$(awk '/tests passed, .* tests failed out of/ {t += $NF; f += $4}
             /^windows: [0-9]+ passed, [0-9]+ failed/ {t += $2 + $4; f += $4}
             END {print t - f, f}' "$log")
set -- $total
echo
echo "$1 passed, $2 failed"
