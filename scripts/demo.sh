#!/usr/bin/env bash
# Shows the library at work in under a minute (once its packages are there):
# installs only what the library and the tool need, builds just those two
# (the debug preset, out/debug), starts `razivu serve` on 127.0.0.1, makes an
# Echo call with every field kind and one call the server does not know, and
# says what each step printed and where the server wrote it down. Everything
# the demo writes lies in a temporary folder, removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '%s\n' "$*"; }
step() { printf '\n[%s] %s\n' "$1" "$2"; }
indent() { sed 's/^/    /'; }

scripts/setup.sh demo
demo=$(mktemp -d "${TMPDIR:-/tmp}/razivu-demo.XXXXXX")
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$demo"
}
trap cleanup EXIT

step 1/5 "Building the library and the razivu tool (out/debug; later runs only check)"
start=$SECONDS
if ! { cmake --preset debug && cmake --build --preset debug --target razivu_tool; } > "$demo/build.log" 2>&1; then
  say "demo: the build failed; its last lines:" >&2
  tail -n 30 "$demo/build.log" >&2
  exit 1
fi
say "    built in $((SECONDS - start)) s: out/debug/librazivu.so and out/debug/tools/razivu"
tool=$PWD/out/debug/tools/razivu
# The server's files (drive C: and its log) live in the demo's folder, not in
# the user's own prefix.
export RAZIVU_PREFIX=$demo/prefix

step 2/5 "Starting the server: razivu serve --bind 127.0.0.1 --port PORT"
# A port of the dynamic range; another one when it is taken.
for _ in $(seq 20); do
  port=$((49152 + RANDOM % 16000))
  RAZIVU_DEBUG=$demo/server-trace.txt "$tool" serve --bind 127.0.0.1 --port "$port" \
    > "$demo/server.out" 2>&1 &
  server=$!
  for _ in $(seq 50); do
    grep -q listening "$demo/server.out" && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  grep -q listening "$demo/server.out" && break
  wait "$server" 2>/dev/null || true
  server=
done
[ -n "$server" ] || { say "demo: razivu serve could not listen; its last words:" >&2; cat "$demo/server.out" >&2; exit 1; }
head -n 1 "$demo/server.out" | indent
say "    It answers Echo (every argument sent back) and the four calendar functions,"
say "    each connection in a worker process of its own."

step 3/5 "Sending a call: razivu call -v 127.0.0.1:$port Echo s:abc s:null i:42 b:1 a:00ff a:null"
say "    One field per argument: a string, the null string, an integer, a boolean, a byte"
say "    array and the null array. -v shows the bytes as they travel (> sent, < received,"
say "    with their offsets); each field is a type tag, a length, '|', the data and '|':"
"$tool" call -v "127.0.0.1:$port" Echo s:abc s:null i:42 b:1 a:00ff a:null \
  > "$demo/reply.txt" 2> "$demo/bytes.txt"
indent < "$demo/bytes.txt"
say "    The reply, decoded field by field by the library: return code 10 means success,"
say "    and Echo has sent every argument back as it came:"
indent < "$demo/reply.txt"

step 4/5 "A call the server does not know: razivu call 127.0.0.1:$port Nope i:1"
status=0
"$tool" call "127.0.0.1:$port" Nope i:1 > "$demo/nope.txt" || status=$?
indent < "$demo/nope.txt"
say "    The server answers with return code 61 alone; the tool exits with status $status"
say "    (0 only for return code 10; razivu help lists every status)."

kill "$server"
wait "$server" || true
server=
step 5/5 "What the server wrote down (it has been stopped)"
say "    On standard error, one line per connection: time, client address and port, each"
say "    call with its return code, bytes in and out, duration, and how it ended:"
{ grep -v '^razivu serve:' "$demo/server.out" || true; } | indent
log=$(find "$RAZIVU_PREFIX" -name errstack.txt -print -quit)
say "    Its log, the library's error log errstack.txt (below RAZIVU_PREFIX; the start and"
say "    the stop, and any trouble a connection brought):"
if [ -n "$log" ]; then
  say "    $log"
  indent < "$log"
fi
if [ -s "$demo/server-trace.txt" ]; then
  say "    Its debug trace (RAZIVU_DEBUG), where the library notes its warnings and errors:"
  indent < "$demo/server-trace.txt"
else
  say "    Its debug trace (RAZIVU_DEBUG names the file) holds the library's warnings and"
  say "    the errors it pushes; it stayed empty: nothing went wrong."
fi
say
say "The demo's folder, with the server's files, is removed now. Next: razivu help (every"
say "command), docs/tool.md (worked examples), README.md and docs/c-api.md (the C interface)."
