#!/bin/sh
# Runs a test program in a fresh temporary prefix, home and working folder.
set -eu
root=$(mktemp -d "${TMPDIR:-/tmp}/razivu-api.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/prefix" "$root/home" "$root/work"
cd "$root/work"
RAZIVU_PREFIX="$root/prefix" HOME="$root/home" XDG_DATA_HOME="$root/home/.local/share" \
XDG_CONFIG_HOME="$root/home/.config" XDG_CACHE_HOME="$root/home/.cache" "$@"
