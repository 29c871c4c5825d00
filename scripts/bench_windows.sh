#!/usr/bin/env bash
# Figures of the 32-bit Windows build under 32-bit Wine, beside the Linux
# build's of the same run, all on 127.0.0.1:
#  1. round trips: bench/roundtrip_client.cpp, built for Linux and for 32-bit
#     Windows, each against one Linux `razivu serve` in turn (calls per second,
#     p99, ratio to the raw exchange of the same bytes);
#  2. the load of scripts/serve_figures.py (8 clients, 20,000 Echo calls)
#     against the Linux `razivu serve` and against `razivu.exe serve` under Wine.
#
#   scripts/bench_windows.sh [SECONDS]   (per measurement, made 3 times; default 1)
#
# Needs the default and mingw-i686 builds (made when missing) and 32-bit Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1}
wine=${RAZIVU_WINE:-/usr/lib/wine/wine}
[ -x "$wine" ] || { echo "bench_windows: no 32-bit Wine at $wine (package wine32:i386)" >&2; exit 1; }
[ -x out/default/tools/razivu ] || scripts/build.sh default
[ -f out/mingw-i686/tools/razivu.exe ] || scripts/build.sh mingw-i686

work=$(mktemp -d "${TMPDIR:-/tmp}/razivu-bench-windows.XXXXXX")
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export RAZIVU_PREFIX=$work/prefix
server=
cleanup() {
  [ -z "$server" ] || kill "$server" 2>/dev/null || true
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The client, built as any user of the library builds it: public header and library only.
g++ -std=c++20 -O2 -Iinclude bench/roundtrip_client.cpp -Lout/default -lrazivu \
    -Wl,-rpath,"$PWD/out/default" -o "$work/roundtrip_client"
mkdir -p "$work/windows"
i686-w64-mingw32-g++-win32 -std=c++20 -O2 -Iinclude bench/roundtrip_client.cpp \
    out/mingw-i686/librazivu.dll.a -static-libgcc -static-libstdc++ -o "$work/windows/roundtrip_client.exe"
cp out/mingw-i686/razivu.dll out/mingw-i686/tools/razivu.exe "$work/windows/"
"$wine" wineboot -i >/dev/null 2>&1

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
out/default/tools/razivu serve --port "$port" --bind 127.0.0.1 --quiet >/dev/null 2>&1 &
server=$!
sleep 0.5

echo "== Round trips against the Linux razivu serve, $seconds s each (nproc $(nproc))"
echo "-- Linux client (x86_64)"
"$work/roundtrip_client" 127.0.0.1 "$port" "$seconds"
echo "-- Windows client (i686) under Wine"
"$wine" "$work/windows/roundtrip_client.exe" 127.0.0.1 "$port" "$seconds" | tr -d '\r'
kill "$server"; wait "$server" 2>/dev/null || true; server=

echo
echo "== Load: scripts/serve_figures.py's clients against each server"
printf '#!/bin/sh\nexec "%s" "%s" "$@"\n' "$wine" "$work/windows/razivu.exe" > "$work/razivu-wine"
chmod +x "$work/razivu-wine"
python3 - "$work" <<'EOF'
import os, sys
sys.path.insert(0, "scripts")
import serve_figures
work = sys.argv[1]
import contextlib, io
for name, tool in (("Linux razivu serve", "out/default/tools/razivu"),
                   ("razivu.exe serve under Wine", os.path.join(work, "razivu-wine"))):
    print(f"-- {name}")
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        serve_figures.load(tool, os.path.join(work, "prefix"))
    # The memory line reads /proc for the server's child processes: Wine's
    # workers are not the launcher's children, so it says nothing there.
    for line in out.getvalue().splitlines():
        if tool.endswith("razivu") or line.startswith("load:"):
            print(line)
EOF
