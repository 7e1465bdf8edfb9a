#!/usr/bin/env bash
# The export tables of both Windows DLLs (scripts/build-windows leaves them in
# build-windows/<arch>/): exactly the C interface, the in-process server's entry
# points and the public C++ classes, every name undecorated on both
# architectures; nothing of the drivers, the runtime or the C++ library. The
# install test's C and C++ hosts must link against each DLL's import library.
# Environment: WIN64_DIR, WIN32_DIR as for tests/wine/run.sh.
set -euo pipefail
cd "$(dirname "$0")/../.."
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "dll exports: $*" >&2
  exit 1
}
c_abi=(tarvion_create tarvion_destroy tarvion_call tarvion_last_output tarvion_last_status tarvion_last_outcome
  tarvion_entry_count
  tarvion_entry_name tarvion_entry_info tarvion_entry_param tarvion_attach_device tarvion_detach_device
  tarvion_wire_send tarvion_wire_now_us tarvion_wire_hang_up)
com=(DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
# Demangled, the C++ names may only be members of the control and the entry lookups.
cxx_allowed='^tarvion::(CTarvionCtrl::|findEntry\(|entryTable\(|typeName\(|kindName\()'

for arch in i686 x86_64; do
  [ "$arch" = i686 ] && dir="${WIN32_DIR:-build-windows/i686}"
  [ "$arch" = x86_64 ] && dir="${WIN64_DIR:-build-windows/x86_64}"
  dll="$dir/tarvion.dll"
  [ -f "$dll" ] || fail "$dll is missing (run scripts/build-windows)"
  # The name table: "[ n] name" lines after "[Ordinal/Name Pointer] Table".
  names="$("$arch-w64-mingw32-objdump" -p "$dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && /^[ \t]*\[ *[0-9]+\]/ { print $NF; next } t && NF == 0 { t = 0 }')"
  [ -n "$names" ] || fail "$arch: no export table in $dll"
  for n in "${c_abi[@]}" "${com[@]}"; do
    grep -qx "$n" <<<"$names" || fail "$arch: $dll does not export $n"
  done
  cxx="$(grep -vxF -f <(printf '%s\n' "${c_abi[@]}" "${com[@]}") <<<"$names" || true)"
  [ -n "$cxx" ] || fail "$arch: $dll exports no C++ class"
  demangled="$("$arch-w64-mingw32-c++filt" -n <<<"$cxx")"
  for member in 'tarvion::CTarvionCtrl::CTarvionCtrl()' 'tarvion::CTarvionCtrl::~CTarvionCtrl()' \
    'tarvion::CTarvionCtrl::Invoke(int' 'tarvion::CTarvionCtrl::SetPromptHandler(' 'tarvion::findEntry(int)'; do
    grep -qF "$member" <<<"$demangled" || fail "$arch: $dll does not export $member"
  done
  stray="$(grep -vE "$cxx_allowed" <<<"$demangled" || true)"
  [ -z "$stray" ] || fail "$arch: $dll exports more than its interface:"$'\n'"$(head -20 <<<"$stray")"
  echo "  $arch: $(wc -l <<<"$names") exports: ${#c_abi[@]} C, ${#com[@]} server entries, $(wc -l <<<"$cxx") C++"
  # Enough for a host: the C and the C++ clients of the install test link
  # against the import library (an export missing from the list fails here).
  for client in c_client.c cpp_client.cpp; do
    compiler="$arch-w64-mingw32-gcc"
    [ "${client##*.}" = cpp ] && compiler="$arch-w64-mingw32-g++ -std=c++20"
    $compiler -Wall -Wextra -Werror -Iinclude -I"$dir/generated" "tests/install/$client" -o "$scratch/${client%.*}.exe" \
      "$dir/libtarvion.dll.a" -static-libgcc || fail "$arch: $client does not link against tarvion.dll"
  done
done
echo "dll exports: passed"
