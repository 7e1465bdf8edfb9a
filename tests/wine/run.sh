#!/usr/bin/env bash
# The COM server proven under wine64, headless, in a fresh wine prefix:
#   1. the 32-bit DLL, which cannot run here, is checked as a file: its entry
#      points and its embedded type library (read by the 64-bit client);
#   2. regsvr32 registers the 64-bit DLL twice, the registry holds what hosts
#      read, regsvr32 /u removes it again;
#   3. the module's entry points and the type library against the entry table;
#   4. client.exe drives the control through IDispatch only (out strings into
#      guarded host buffers among the checks), then embeds it as a form
#      designer does (site, in-place window, drawing, persistence, events);
#   5. with `tarvion emulate 1` on a pseudo-terminal behind wine's COM5, the
#      client reads the printer and sale.vbs runs a whole sale under cscript,
#      through the Win32 serial backend;
#   6. on COM6, a pseudo-terminal where nothing answers, the control gives up
#      within the port's time-outs with its message.
# Exits non-zero on any failure; ends with "wine: N passed, N failed".
#
# Environment: WIN64_DIR, WIN32_DIR (default build-windows/x86_64, build-windows/i686,
# as scripts/build-windows leaves them), TARVION_TOOL (the native tool, default
# build/tarvion, built when missing), KEEP_WINEPREFIX=1 to keep the prefix.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$(pwd)
WIN64_DIR=${WIN64_DIR:-build-windows/x86_64}
WIN32_DIR=${WIN32_DIR:-build-windows/i686}
TOOL=${TARVION_TOOL:-build/tarvion}

DLL64=$(readlink -f "$WIN64_DIR")/tarvion.dll
DLL32=$(readlink -f "$WIN32_DIR")/tarvion.dll
CLIENT=$(readlink -f "$WIN64_DIR")/client.exe
for f in "$DLL64" "$DLL32" "$CLIENT"; do
  [ -f "$f" ] || { echo "run.sh: $f is missing (run scripts/build-windows)"; exit 1; }
done
if [ ! -x "$TOOL" ]; then
  echo "run.sh: building the native tool for the virtual printer"
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target tarvion_tool >/dev/null
fi

WINE=/usr/lib/wine/wine64
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine)
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver)

WORK=$(mktemp -d /tmp/tarvion-wine.XXXXXX)
export WINEPREFIX=$WORK/prefix
export WINEDEBUG=-all
# No Mono or Gecko installers: nothing here needs them, and they would only
# time out without a network.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine takes its ANSI code page from the locale; the tests expect 1252.
export LANG=C.UTF-8
export HOME=${HOME:-$WORK}
unset DISPLAY WAYLAND_DISPLAY

EMULATOR_PID=""
SILENT_PID=""
cleanup() {
  for pid in $EMULATOR_PID $SILENT_PID; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ "${KEEP_WINEPREFIX:-0}" = 1 ]; then echo "wine prefix kept in $WINEPREFIX"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok    $*"; }
fail() { failed=$((failed + 1)); echo "FAIL  $*"; }
expect() {  # expect DESCRIPTION COMMAND...: the command must succeed
  local what=$1; shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
refuse() {  # refuse DESCRIPTION COMMAND...: the command must fail
  local what=$1; shift
  if "$@"; then fail "$what"; else pass "$what"; fi
}
winpath() { echo "Z:$(readlink -f "$1" | sed 's|/|\\|g')"; }
wine_() { timeout "${WINE_TIMEOUT:-120}" "$WINE" "$@"; }
# The data of one registry value ("" for the default value), CR stripped.
regval() {
  local out
  if [ -z "$2" ]; then out=$(wine_ reg query "$1" /ve 2>/dev/null) || return 1
  else out=$(wine_ reg query "$1" /v "$2" 2>/dev/null) || return 1; fi
  printf '%s\n' "$out" | tr -d '\r' | awk -F'    ' '/REG_SZ/ {print $NF; exit}'
}
regis() { [ "$(regval "$1" "$2")" = "$3" ]; }
regkey() { wine_ reg query "$1" >/dev/null 2>&1; }
# Runs client.exe; its output is shown, its last line must be "N passed, 0 failed".
client() {
  local out rc=0
  out=$(wine_ "$CLIENT" "$@" 2>&1 | tr -d '\r') || rc=$?
  printf '%s\n' "$out" | sed 's/^/      /'
  [ $rc -eq 0 ] && printf '%s\n' "$out" | tail -1 | grep -Eq '^[0-9]+ passed, 0 failed$'
}

# The pseudo-terminal a background program names on the first line of FILE,
# once it has, linked as wine's DEVICE (com5...); fails when none comes.
pty_of() {
  local file=$1 device=$2 pty
  for _ in $(seq 1 100); do
    [ -s "$file" ] && break
    sleep 0.1
  done
  pty=$(head -1 "$file")
  [ -c "$pty" ] || return 1
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/$device"
  echo "$pty"
}

CLSID_CTRL='{E6F0942A-3030-43AA-8C6E-F3B5305C27D8}'
CLSID_PAGE='{A68663A8-F6CD-4235-842E-28EF26BB4A47}'
LIBID='{0D6F643A-0BA4-419E-8B07-E2EB235A6543}'
W64=$(winpath "$DLL64")
W32=$(winpath "$DLL32")

timeout 60 "$TOOL" entries --json | python3 tests/wine/expected_dispatch.py >"$WORK/expected.txt"

echo "== the 32-bit DLL, as a file"
exports32=$(i686-w64-mingw32-objdump -p "$DLL32")
expect "tarvion.dll (i686) is a 32-bit PE" grep -q 'pei-i386' <<<"$(i686-w64-mingw32-objdump -f "$DLL32")"
for name in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
  expect "i686 exports $name undecorated" grep -Eq "^\s*\[ *[0-9]+\] $name\$" <<<"$exports32"
done
exports64=$(x86_64-w64-mingw32-objdump -p "$DLL64")
for name in DllGetClassObject DllCanUnloadNow DllRegisterServer DllUnregisterServer; do
  expect "x86_64 exports $name" grep -Eq "^\s*\[ *[0-9]+\] $name\$" <<<"$exports64"
done

echo "== a fresh wine prefix"
mkdir -p "$WINEPREFIX"
start=$(date +%s)
boot() { timeout 300 "$WINE" wineboot -i >"$WORK/wineboot.log" 2>&1; }
expect "wineboot -i" boot
echo "      ($(($(date +%s) - start)) s)"
# No display here: wine's null display driver still gives windows and device
# contexts, which the embedding tests need.
# The desktop process reads it when it starts: stop the one wineboot left
# running. The wine server that the next wine command starts keeps that
# command's output for its own messages, so it is started by a quiet one.
expect "the null display driver" wine_ reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
timeout 30 "$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -p >"$WORK/wineserver.log" 2>&1 </dev/null &
expect "the display driver is null" regis 'HKCU\Software\Wine\Drivers' Graphics null

echo "== type libraries embedded in both DLLs"
expect "i686 type library" client typelib "$W32" win32 "$(winpath "$WORK")\\tlb32.txt"
expect "i686 _DTarvion matches the entry table" diff -u "$WORK/expected.txt" "$WORK/tlb32.txt"
expect "x86_64 type library" client typelib "$W64" win64 "$(winpath "$WORK")\\tlb64.txt"
expect "x86_64 _DTarvion matches the entry table" diff -u "$WORK/expected.txt" "$WORK/tlb64.txt"

echo "== entry points of an unregistered module"
expect "DllGetClassObject, DllCanUnloadNow, DllUnregisterServer" client entrypoints "$W64"

echo "== regsvr32"
expect "regsvr32 registers" wine_ regsvr32 /s "$W64"
expect "regsvr32 registers again" wine_ regsvr32 /s "$W64"
expect "ProgID Tarvion.TarvionCtrl.1" regis 'HKCR\Tarvion.TarvionCtrl.1' '' 'Tarvion Control'
expect "ProgID names the class" regis 'HKCR\Tarvion.TarvionCtrl.1\CLSID' '' "$CLSID_CTRL"
expect "ProgID TARVION.TarvionPropPage.1" regis 'HKCR\TARVION.TarvionPropPage.1\CLSID' '' "$CLSID_PAGE"
expect "InprocServer32 is the DLL" regis "HKCR\\CLSID\\$CLSID_CTRL\\InprocServer32" '' "$W64"
expect "apartment threading" regis "HKCR\\CLSID\\$CLSID_CTRL\\InprocServer32" ThreadingModel Apartment
expect "MiscStatus 132241" regis "HKCR\\CLSID\\$CLSID_CTRL\\MiscStatus\\1" '' 132241
expect "a control" regkey "HKCR\\CLSID\\$CLSID_CTRL\\Control"
expect "insertable" regkey "HKCR\\CLSID\\$CLSID_CTRL\\Insertable"
expect "its type library" regis "HKCR\\CLSID\\$CLSID_CTRL\\TypeLib" '' "$LIBID"
expect "the property page's name" regis "HKCR\\CLSID\\$CLSID_PAGE" '' 'Tarvion Property Page'
expect "type library TarvionLib 1.0" regis "HKCR\\TypeLib\\$LIBID\\1.0\\0\\win64" '' "$W64"
expect "regsvr32 /u unregisters" wine_ regsvr32 /u /s "$W64"
refuse "Tarvion.TarvionCtrl.1 is gone" regkey 'HKCR\Tarvion.TarvionCtrl.1'
refuse "TARVION.TarvionPropPage.1 is gone" regkey 'HKCR\TARVION.TarvionPropPage.1'
refuse "the control's class is gone" regkey "HKCR\\CLSID\\$CLSID_CTRL"
refuse "the property page's class is gone" regkey "HKCR\\CLSID\\$CLSID_PAGE"
refuse "the type library is gone" regkey "HKCR\\TypeLib\\$LIBID"
refuse "regsvr32 /u of an unregistered module fails" wine_ regsvr32 /u /s "$W64"
expect "regsvr32 registers for the clients" wine_ regsvr32 /s "$W64"

echo "== the control through IDispatch"
expect "client dispatch" client dispatch "$(winpath "$WORK")\\dispatch.txt"
expect "GetTypeInfo's _DTarvion matches the entry table" diff -u "$WORK/expected.txt" "$WORK/dispatch.txt"

echo "== the control embedded in a form (sites, drawing, persistence, connection points)"
expect "client container" client container

echo "== the virtual Bematech printer on COM5"
"$TOOL" emulate 1 --baud 115200 --state "$WORK/state.txt" --paper "$WORK/paper.txt" >"$WORK/emulate.out" 2>"$WORK/emulate.err" &
EMULATOR_PID=$!
if PTY=$(pty_of "$WORK/emulate.out" com5); then
  pass "tarvion emulate 1 on $PTY"
  expect "client printer (COM5)" client printer 5
  sale=$(wine_ cscript //nologo "$(winpath tests/wine/sale.vbs)" 5 2>&1 | tr -d '\r') && rc=0 || rc=$?
  printf '%s\n' "$sale" | sed 's/^/      /'
  # A script host that stops on an error prints no closing line (and wine's
  # cscript still exits 0 then), so the line is what counts.
  expect "sale.vbs under cscript" test "$rc" -eq 0
  expect "sale.vbs ran to its end with no failure" grep -Eq '^[0-9]+ passed, 0 failed$' <<<"$sale"
  expect "the receipt is on the printer's paper" grep -q 'CAFE TORRADO 500G' "$WORK/paper.txt"
  expect "the X report is on the printer's paper" grep -qi 'LEITURA X' "$WORK/paper.txt"
else
  fail "tarvion emulate 1 did not start: $(cat "$WORK/emulate.err")"
fi

echo "== a printer that never answers on COM6"
python3 tests/wine/silent_port.py >"$WORK/silent.out" &
SILENT_PID=$!
if pty_of "$WORK/silent.out" com6 >/dev/null; then
  expect "client silent (COM6): time-outs and the message" client silent 6
else
  fail "the silent port did not start"
fi

echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
