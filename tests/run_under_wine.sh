#!/bin/sh
# The emulator of the Windows tests (tests/wine.cmake): runs them under Wine
# in the build's own prefix below STATE.
#   run_under_wine.sh LAUNCHER STATE --setup    makes the prefix (the fixture test)
#   run_under_wine.sh LAUNCHER STATE --cleanup  ends its servers and removes STATE
#   run_under_wine.sh LAUNCHER STATE PROGRAM [ARGS...]
# A program starts from the prefix as it was made: the files the tests write
# in the Windows directory, the log tree, C:\error.txt and drive D: are put
# back first. Nothing Wine writes lands outside STATE: its HOME, XDG folders
# and fontconfig caches are there too.
set -eu
launcher=$1 state=$2
shift 2
server=$(dirname "$(readlink -f "$launcher")")/wineserver
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
       HOME="$state/home" XDG_DATA_HOME="$state/home/.local/share" XDG_CONFIG_HOME="$state/home/.config" \
       XDG_CACHE_HOME="$state/home/.cache" FONTCONFIG_FILE="$state/fonts.conf" RAZIVU_TEST_SCREEN=1234x567
unset RAZIVU_DEBUG COMLOGGING
c="$WINEPREFIX/drive_c"

setup() {
  "$server" -k 2>/dev/null || true  # a prefix left by an interrupted run
  rm -rf "$state"
  mkdir -p "$WINEPREFIX" "$HOME" "$state/drive_d"
  printf '<?xml version="1.0"?>\n<fontconfig>\n  <include ignore_missing="yes">/etc/fonts/conf.d</include>\n  <cachedir>%s</cachedir>\n</fontconfig>\n' \
    "$state/fccache" >"$FONTCONFIG_FILE"
  # An X server of the tests' own, on a display number it picks itself.
  Xvfb -displayfd 3 -screen 0 "${RAZIVU_TEST_SCREEN}x24" -nolisten tcp 3>"$state/display" </dev/null \
    >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
  [ -s "$state/display" ] || { echo "run_under_wine: Xvfb did not start"; cat "$state/xvfb.log"; exit 1; }
  export DISPLAY=":$(cat "$state/display")"
  # A 32-bit prefix for 32-bit Wine: half the size of a 64-bit one, made in half the time.
  [ "$(basename "$launcher")" = wine64 ] || export WINEARCH=win32
  # A server that lives until --cleanup, so that a test starts in a tenth of a second.
  "$server" -p </dev/null >/dev/null 2>&1
  # Making the prefix starts its services and the desktop, whose shell answers
  # PROGMAN; their output goes to a log, so that they hold no test's output open.
  "$launcher" reg add 'HKLM\SOFTWARE\BRENVOLT' /f >"$state/setup.log" 2>&1 ||
    { cat "$state/setup.log"; exit 1; }
  ln -s ../../drive_d "$WINEPREFIX/dosdevices/d:"
  touch "$state/made"
  echo "run_under_wine: prefix $WINEPREFIX made, display $DISPLAY"
}

cleanup() {
  "$server" -k 2>/dev/null || true
  if [ -s "$state/xvfb.pid" ]; then kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true; fi
  rm -rf "$state"
}

reset() {
  rm -rf "$c/var" "$c/error.txt" "$state/drive_d"
  mkdir "$state/drive_d"
  find "$c/windows" -maxdepth 1 -type f \( -iname win.ini -o -iname tarnex.ini \) -delete
  find "$c/windows/Fonts" "$c/windows/system" -maxdepth 1 -type f -cnewer "$state/made" -delete
}

case "$1" in
  --setup) setup ;;
  --cleanup) cleanup ;;
  *)
    [ -f "$state/made" ] || { echo "run_under_wine: no prefix in $state: the test wine.prefix_made makes it"; exit 1; }
    export DISPLAY=":$(cat "$state/display")"
    reset
    work=$(mktemp -d "$state/work.XXXXXX")
    # Output through a file: a process the program leaves running cannot hold CTest's pipe.
    rc=0
    (cd "$work" && "$launcher" "$@") >"$work.out" 2>&1 || rc=$?
    cat "$work.out"
    rm -rf "$work" "$work.out"
    exit "$rc" ;;
esac
