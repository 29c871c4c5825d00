#!/usr/bin/env bash
# Checks the installed package as a user meets it: installs a build (default
# out/default) into a temporary prefix other than /usr/local, then
# - builds a C-only client through find_package(razivu), with the shared and
#   the static target;
# - builds the same client through pkg-config, shared and static, and checks
#   that the .pc files name the prefix they lie in (also after the whole
#   prefix moved elsewhere);
# - runs the installed tool without LD_LIBRARY_PATH, before and after the move;
# - finds the manual page, the bash completion and the Wireshark dissector;
# - has systemd-analyze verify the systemd units as installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-out/default}
dest=$(mktemp -d "${TMPDIR:-/tmp}/razivu-install.XXXXXX")
trap 'rm -rf "$dest"' EXIT
fail() { echo "install: $*" >&2; exit 1; }
unset LD_LIBRARY_PATH PKG_CONFIG_PATH

# No DT_NEEDED entry for librazivu: the archive was linked in.
linked_statically() { ! readelf -d "$1" | grep -q 'NEEDED.*librazivu'; }

prefix=$dest/opt/razivu
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S tests/install -B "$dest/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$dest/build" >/dev/null
"$dest/build/consumer_shared" >/dev/null || fail "find_package client (shared) does not run"
"$dest/build/consumer_static" >/dev/null || fail "find_package client (static) does not run"
linked_statically "$dest/build/consumer_static" || fail "razivu::razivu_static links the shared library"

pc_check() {  # prefix of the tree, label
  local pcdir
  pcdir=$(dirname "$(find "$1" -name razivu.pc)")
  export PKG_CONFIG_PATH=$pcdir
  [ "$(pkg-config --variable=prefix razivu)" -ef "$1" ] ||
    fail "razivu.pc ($2) names $(pkg-config --variable=prefix razivu), not $1"
  # shellcheck disable=SC2046
  cc tests/install/consumer.c -o "$dest/consumer_pc" $(pkg-config --cflags --libs razivu) \
     -Wl,-rpath,"$(pkg-config --variable=libdir razivu)"
  "$dest/consumer_pc" >/dev/null || fail "pkg-config client (shared, $2) does not run"
  # shellcheck disable=SC2046
  cc tests/install/consumer.c -o "$dest/consumer_pc_static" $(pkg-config --cflags --libs razivu-static)
  "$dest/consumer_pc_static" >/dev/null || fail "pkg-config client (static, $2) does not run"
  linked_statically "$dest/consumer_pc_static" || fail "razivu-static.pc links the shared library"
  pkg-config --static --libs razivu | grep -q -- '-lstdc++' || fail "razivu.pc lacks the C++ run-time in Libs.private"
}

tool_check() {  # prefix of the tree, label
  local version
  version=$("$1/bin/razivu" --version) || fail "the installed tool does not start ($2)"
  [ "${version%%$'\n'*}" = "razivu $(sed -n 's/^project(razivu VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
    fail "the installed tool reports '$version' ($2)"
}

pc_check "$prefix" "as installed"
tool_check "$prefix" "as installed"
readelf -d "$prefix/bin/razivu" | grep -q 'RUNPATH.*\$ORIGIN/\.\./lib' || fail "the tool has no RUNPATH \$ORIGIN/../lib"

# The units name the installed tool by its path, which must exist: checked
# before the move. The templates are verified through an instance, and any
# word from systemd-analyze is a fault: it warns of an unknown setting, say,
# and exits with 0 all the same.
command -v systemd-analyze >/dev/null || fail "systemd-analyze (Debian package systemd) is not installed"
units=$(cd "$prefix/lib/systemd/system" &&
        systemd-analyze verify ./razivu.socket ./razivu.service ./razivu@4001.socket ./razivu@4001.service 2>&1) ||
  fail "systemd-analyze verify refuses the installed units: $units"
[ -z "$units" ] || fail "systemd-analyze verify warns of the installed units: $units"

mv "$prefix" "$dest/moved"
pc_check "$dest/moved" "moved"
tool_check "$dest/moved" "moved"

share=$dest/moved/share
groff -man -Tutf8 -ww -z "$share/man/man1/razivu.1" 2>&1 | { ! grep .; } || fail "razivu.1 has roff warnings"
# shellcheck disable=SC2016
bash -c 'source "$1"; COMP_WORDS=(razivu ca); COMP_CWORD=1; _razivu; [ "${COMPREPLY[*]}" = call ]' _ \
  "$share/bash-completion/completions/razivu" || fail "the bash completion does not complete 'razivu ca'"
[ -s "$share/razivu/wireshark/razivu.lua" ] || fail "the Wireshark dissector is not installed"
echo "install: CMake package, pkg-config files, tool, manual page, completion and dissector work from any prefix; the systemd units verify"
