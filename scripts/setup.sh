#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing, and
# 32-bit Wine (wine32 of the i386 architecture, added when missing) for the
# tests of the 32-bit Windows build. Runs apt-get as root, through sudo when
# not root. 32-bit Wine is optional: when it cannot be installed, one line
# says so and the rest goes on.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
while read -r pkg; do
  pkg=${pkg%%#*}; pkg=${pkg//[[:space:]]/}
  [ -n "$pkg" ] || continue
  installed "$pkg" || missing+=("$pkg")
done < "$here/packages.txt"
wine32=wine32:i386
need_wine32=0
installed "$wine32" || need_wine32=1

if [ ${#missing[@]} -eq 0 ] && [ "$need_wine32" -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]} $wine32" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "$need_wine32" -eq 1 ]; then
  echo "setup: installing $wine32 (32-bit Wine for the Windows tests)"
  if ! { { dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386; } &&
         "${sudo[@]}" apt-get update -qq &&
         "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$wine32" >/dev/null 2>&1; }; then
    echo "setup: $wine32 could not be installed from the package registry; the 32-bit Windows tests will be skipped"
  fi
fi
