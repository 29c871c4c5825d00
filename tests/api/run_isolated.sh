#!/bin/sh
# Runs a test program in a fresh temporary prefix, home and working folder.
set -eu
root=$(mktemp -d "${TMPDIR:-/tmp}/razivu-api.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/prefix" "$root/home" "$root/work"
cd "$root/work"
export RAZIVU_PREFIX="$root/prefix" HOME="$root/home" XDG_DATA_HOME="$root/home/.local/share" \
       XDG_CONFIG_HOME="$root/home/.config" XDG_CACHE_HOME="$root/home/.cache"
# fontconfig with the system's rules but its caches in the test's tree: as
# root it would write them to /var/cache/fontconfig.
printf '<?xml version="1.0"?>\n<fontconfig>\n  <include ignore_missing="yes">/etc/fonts/conf.d</include>\n  <cachedir>%s</cachedir>\n</fontconfig>\n' \
  "$root/fccache" > "$root/fonts.conf"
export FONTCONFIG_FILE="$root/fonts.conf"
# Not exec: the trap must remove the tree.
rc=0
"$@" || rc=$?
exit "$rc"
