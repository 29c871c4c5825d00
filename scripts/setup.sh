#!/usr/bin/env bash
# Installs the Debian packages that are missing:
#   scripts/setup.sh       those of scripts/demo-packages.txt and
#                          scripts/packages.txt (the Linux builds and their
#                          tests: required), then those of
#                          scripts/windows-packages.txt and 32-bit Wine
#                          (wine32 of the i386 architecture, added when
#                          missing) for the Windows lanes;
#   scripts/setup.sh demo  those of scripts/demo-packages.txt alone: the
#                          library and the tool, what scripts/demo.sh builds.
# Runs apt-get as root, through sudo when not root. The Windows packages are
# optional: when the registry cannot give them, one line says so and the rest
# goes on (the Windows lanes of scripts/test.sh then say they were skipped).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-all}
case $mode in
  all|demo) ;;
  *) echo "usage: scripts/setup.sh [demo]" >&2; exit 2 ;;
esac

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}
# The packages of a list file that are not installed, one per line.
missing_of() {
  local pkg
  while read -r pkg; do
    pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
    [ -z "$pkg" ] || installed "$pkg" || echo "$pkg"
  done < "$1"
}

mapfile -t missing < <(missing_of "$here/demo-packages.txt")
missing_windows=()
wine32=wine32:i386
need_wine32=0
if [ "$mode" = all ]; then
  mapfile -t -O "${#missing[@]}" missing < <(missing_of "$here/packages.txt")
  mapfile -t missing_windows < <(missing_of "$here/windows-packages.txt")
  installed "$wine32" || need_wine32=1
fi

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_windows[@]} -eq 0 ] && [ "$need_wine32" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null ||
    { echo "setup: need root or sudo to install: ${missing[*]} ${missing_windows[*]}" \
           "$([ "$need_wine32" -eq 1 ] && echo "$wine32")" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
updated=0
update() {
  [ "$updated" -eq 1 ] || "${sudo[@]}" apt-get update -qq
  updated=1
}
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  update
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ ${#missing_windows[@]} -gt 0 ]; then
  echo "setup: installing ${missing_windows[*]} (Windows lanes)"
  if ! { update && "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing_windows[@]}" \
           >/dev/null 2>&1; }; then
    echo "setup: ${missing_windows[*]} could not be installed from the package registry; the Windows lanes will be skipped"
  fi
fi

if [ "$need_wine32" -eq 1 ]; then
  echo "setup: installing $wine32 (32-bit Wine for the Windows tests)"
  if ! { { dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386; } &&
         "${sudo[@]}" apt-get update -qq &&
         "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$wine32" >/dev/null 2>&1; }; then
    echo "setup: $wine32 could not be installed from the package registry; the 32-bit Windows tests will be skipped"
  fi
fi
