#!/bin/sh
# Runs a test program in a fresh temporary prefix, home and working folder.
# A Windows program (.exe) runs under wine64 in a Wine prefix of its own,
# with the folder of razivu.dll on its search path.
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
case "$1" in
  *.exe)
    prog=$1; shift
    dlls=$(cd "$(dirname "$prog")/.." && pwd)
    export WINEPREFIX="$root/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
           WINEPATH="$dlls"
    # Not exec: the trap must remove the prefix, once Wine's server is gone.
    rc=0
    "${RAZIVU_WINE:-/usr/lib/wine/wine64}" "$prog" "$@" || rc=$?
    "$(dirname "$(readlink -f "${RAZIVU_WINE:-/usr/lib/wine/wine64}")")/wineserver" -k 2>/dev/null || true
    exit "$rc" ;;
  *)
    rc=0
    "$@" || rc=$?
    exit "$rc" ;;
esac
