#!/usr/bin/env bash
# Installs the default build into a temporary prefix and builds two clients
# against it: one through find_package(razivu), one through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=$(mktemp -d "${TMPDIR:-/tmp}/razivu-install.XXXXXX")
trap 'rm -rf "$dest"' EXIT
cmake --install out/default --prefix "$dest/usr" >/dev/null
cmake -S tests/install -B "$dest/build" -G Ninja -DCMAKE_PREFIX_PATH="$dest/usr" >/dev/null
cmake --build "$dest/build" >/dev/null
"$dest/build/consumer_shared" >/dev/null
"$dest/build/consumer_static" >/dev/null
libdir=$(find "$dest/usr" -name razivu.pc -printf '%h\n' | head -n 1)
# shellcheck disable=SC2046
cc tests/install/consumer.c -o "$dest/consumer_pc" \
   $(PKG_CONFIG_PATH="$libdir" pkg-config --define-prefix --cflags --libs razivu) \
   -Wl,-rpath,"$dest/usr/lib"
"$dest/consumer_pc" >/dev/null
echo "install: headers, libraries, CMake package and pkg-config file work for clients"
