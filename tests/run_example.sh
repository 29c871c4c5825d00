#!/bin/sh
# An example server on a free port of 127.0.0.1, and the example client
# against it: the client must get what the greeter's functions answer, and
# the server must have a line for the connection and stop at SIGTERM.
# Usage: run_example.sh CLIENT SERVER [ARGS...] (in a folder of its own:
# api/run_isolated.sh)
set -eu
client=$1
shift
"$@" > server.out 2> server.err &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^[^:]*: listening on [0-9.]*:\([0-9]*\),.*/\1/p' server.out)
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not listen:"; cat server.out server.err; exit 1; }
"$client" 127.0.0.1 "$port" > client.out
kill -TERM "$server"
wait "$server" || { echo "the server ended with status $?:"; cat server.err; exit 1; }
cat > expected.out <<'END'
Add(2, 3) = 5
Greet("world") = Hello, world
Subtract: the server answered 61 (No matching COMrpc function found at server.)
END
diff expected.out client.out
grep -q 'Add 10, Greet 10, Subtract 61; ' server.err || { cat server.err; exit 1; }
