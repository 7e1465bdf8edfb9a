#!/usr/bin/env bash
# A whole sale through `tarvion serve`'s page in headless chromium (selenium),
# against an in-process virtual printer; then the paper file must hold exactly
# that one receipt, and a page from another origin must print nothing. Usage: tests/browser/run.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD_DIR=${1:-build}
TOOL="$BUILD_DIR/tarvion"
[ -x "$TOOL" ] || { echo "browser: $TOOL not built"; exit 1; }
WORK=$(mktemp -d /tmp/tarvion-browser-XXXXXX)
SERVER=""
cleanup() {
  if [ -n "$SERVER" ]; then kill "$SERVER" 2>/dev/null || true; wait "$SERVER" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$TOOL" serve --listen "127.0.0.1:$PORT" --journal "$WORK/journal" \
  --virtual "caixa=1,state=$WORK/state.json,paper=$WORK/paper.txt" >"$WORK/serve.log" 2>&1 &
SERVER=$!
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$PORT/printers" >/dev/null && break
  kill -0 "$SERVER" 2>/dev/null || { cat "$WORK/serve.log"; exit 1; }
  sleep 0.1
done
# Debian's selenium is for the system's python, whatever python comes first in PATH.
/usr/bin/python3 tests/browser/sale.py "http://127.0.0.1:$PORT/" caixa
receipts=$(grep -c "CUPOM FISCAL" "$WORK/paper.txt" || true)
if [ "$receipts" != 1 ] || ! grep -q "ARROZ TIPO 1 5KG" "$WORK/paper.txt"; then
  echo "browser: the paper file should hold one receipt with both items:"
  cat "$WORK/paper.txt"
  exit 1
fi
# A page served from another loopback port tries the same printer.
/usr/bin/python3 tests/browser/cross_origin.py "http://127.0.0.1:$PORT/" caixa
if grep -q "FROM A WEB PAGE" "$WORK/paper.txt" || [ "$(grep -c "CUPOM FISCAL" "$WORK/paper.txt")" != 1 ]; then
  echo "browser: another site's page reached the printer:"
  cat "$WORK/paper.txt"
  exit 1
fi
echo "browser: passed"
