#!/usr/bin/env bash
# Installs what is missing, builds, and shows the library at work: an error
# pushed onto the error stack lands in the debug trace and in errstack.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh default

tool=$PWD/out/default/tools/razivu
demo=$(mktemp -d "${TMPDIR:-/tmp}/razivu-demo.XXXXXX")
trap 'rm -rf "$demo"' EXIT
export RAZIVU_PREFIX=$demo/prefix RAZIVU_DEBUG=$demo/trace.txt

echo "== razivu diag UnpackString 54"
"$tool" diag UnpackString 54
echo
echo "== the debug trace ($RAZIVU_DEBUG)"
cat "$RAZIVU_DEBUG"
echo "== the error log (C:\\var\\opt\\TARNEX\\dro\\log\\errstack.txt below \$RAZIVU_PREFIX)"
cat "$RAZIVU_PREFIX/drive_c/var/opt/TARNEX/dro/log/errstack.txt"
