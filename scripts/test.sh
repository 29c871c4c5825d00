#!/usr/bin/env bash
# Installs what is missing, builds and runs every test in the default, the
# sanitizer and the ThreadSanitizer build, checks the installed package, runs each fuzz target for a
# bounded time, then the Windows lanes: the 32-bit DLL's export list, the
# whole suite of the 32-bit build under 32-bit Wine and of the 64-bit build
# under wine64, and 32-bit Windows and Linux calling each other.
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

step "ThreadSanitizer build (clang++)"
scripts/build.sh tsan
step "tests, ThreadSanitizer build"
run_ctest tsan

step "fuzz targets"
scripts/fuzz.sh "${RAZIVU_FUZZ_SECONDS:-30}"

# The Windows lanes: each says in one line when its compiler or its Wine is
# missing (scripts/setup.sh could not install it) and the Linux lanes decide.
# A test that fails under Wine fails the run.
wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
step "32-bit Windows DLL (mingw-w64 i686): its exports, then every test under 32-bit Wine"
if ! command -v i686-w64-mingw32-g++-win32 >/dev/null || [ ! -d /usr/src/googletest ]; then
  echo "skipped: the i686 mingw-w64 compiler or GoogleTest's sources (package googletest) are not installed"
else
  scripts/build.sh mingw-i686
  cmake -DLIB=out/mingw-i686/razivu.dll -DTOOL=i686-w64-mingw32-objdump \
        -DLIST=library/exports.txt -P tests/check_exports.cmake
  # libgcc_s is the import library of a DLL: a static program must not name it.
  ! grep -q -- '-lgcc_s' out/mingw-i686/razivu-static.pc ||
    { echo "razivu-static.pc names libgcc_s: a static program would need libgcc_s_dw2-1.dll"; exit 1; }
  if [ -x "$wine32" ]; then
    run_ctest mingw-i686
  else
    echo "skipped: 32-bit Wine ($wine32, package wine32:i386) is not installed"
  fi
fi

step "64-bit Windows build, every test under wine64"
if ! command -v x86_64-w64-mingw32-g++-win32 >/dev/null || [ ! -d /usr/src/googletest ] || [ ! -x "$wine64" ]; then
  echo "skipped: the x86_64 mingw-w64 compiler, GoogleTest's sources or wine64 ($wine64) are not installed"
else
  scripts/build.sh mingw-x86_64
  run_ctest mingw-x86_64
fi

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
