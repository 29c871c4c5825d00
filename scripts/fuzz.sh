#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for a bounded time on its seed
# corpus: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
scripts/build.sh fuzz
shopt -s nullglob
targets=(out/fuzz/fuzz/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets"
  exit 0
fi
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t"); name=${name#fuzz_}
  work=$(mktemp -d "${TMPDIR:-/tmp}/razivu-fuzz.XXXXXX")
  mkdir -p "$work/corpus" "$work/prefix"
  # Drive C as a plain file: every error-log write fails at once, so pushes
  # cost no disk time and the log does not grow through the run.
  : > "$work/prefix/drive_c"
  cp -r "fuzz/corpus/$name/." "$work/corpus/" 2>/dev/null || true
  echo "fuzz: $name for ${seconds}s"
  rc=0
  (cd "$work" && RAZIVU_PREFIX="$work/prefix" HOME="$work" \
     "$OLDPWD/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 corpus > log.txt 2>&1) || rc=$?
  tail -n 4 "$work/log.txt"
  if [ "$rc" -ne 0 ]; then
    echo "fuzz: $name failed; the log and the crashing input:"
    tail -n 60 "$work/log.txt"
    for crash in "$work"/crash-* "$work"/leak-* "$work"/timeout-*; do
      [ -f "$crash" ] && { echo "$crash:"; od -A x -t x1z "$crash" | head -n 20; }
    done
    exit 1
  fi
  rm -rf "$work"
done
