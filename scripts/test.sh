#!/usr/bin/env bash
# Installs what is missing, builds and runs every test in the default and the
# sanitizer build, runs each fuzz target for a bounded time, and builds the
# 32-bit Windows DLL and checks its export list.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

step() { printf '\n=== %s\n' "$*"; }

step "default build (g++)"
scripts/build.sh default
step "tests, default build"
ctest --preset default

step "sanitizer build (clang++, ASan + UBSan)"
scripts/build.sh asan
step "tests, sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan

step "fuzz targets"
scripts/fuzz.sh "${RAZIVU_FUZZ_SECONDS:-30}"

step "32-bit Windows DLL (mingw-w64 i686)"
scripts/build.sh mingw-i686
cmake -DLIB=out/mingw-i686/razivu.dll -DTOOL=i686-w64-mingw32-objdump \
      -DLIST=library/exports.txt -P tests/check_exports.cmake
