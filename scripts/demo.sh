#!/usr/bin/env bash
# Installs what is missing, builds, and shows the library at work: `razivu
# serve` listens on 127.0.0.1, `razivu call` makes an Echo call with every
# field kind and prints the reply, then the debug trace of both sides is
# shown and the server is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh default

tool=$PWD/out/default/tools/razivu
demo=$(mktemp -d "${TMPDIR:-/tmp}/razivu-demo.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$demo"
}
trap cleanup EXIT
export RAZIVU_PREFIX=$demo/prefix

# A port of the dynamic range; another one when it is taken.
for _ in $(seq 20); do
  port=$((49152 + RANDOM % 16000))
  RAZIVU_DEBUG=$demo/server-trace.txt "$tool" serve --port "$port" > "$demo/server.log" 2>&1 &
  server=$!
  for _ in $(seq 50); do
    grep -q listening "$demo/server.log" && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  grep -q listening "$demo/server.log" && break
  wait "$server" 2>/dev/null || true
  server=
done
[ -n "$server" ] || { echo "demo: razivu serve could not listen" >&2; exit 1; }
echo "== razivu serve --port $port"
cat "$demo/server.log"

echo
echo "== razivu call 127.0.0.1 $port Echo s:abc s:null i:42 b:1 a:00ff a:null"
RAZIVU_DEBUG=$demo/client-trace.txt \
  "$tool" call 127.0.0.1 "$port" Echo s:abc s:null i:42 b:1 a:00ff a:null

echo
echo "== the client's debug trace"
cat "$demo/client-trace.txt"

kill "$server"
wait "$server" || true
server=
echo "== the server's debug trace"
cat "$demo/server-trace.txt"
