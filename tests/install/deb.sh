#!/usr/bin/env bash
# Builds the Debian package with CPack and proves it holds what a host and a
# user need: its name and control fields (dpkg-deb -I), its files (dpkg-deb -c:
# the library and its SONAME link, headers, CMake package, pkg-config file, the
# tool, the manual page, the udev rule), then extracts it into a scratch root
# (dpkg-deb -x) and builds a C and a C++ host against the extracted files only,
# through pkg-config and through find_package(Tarvion), and runs them and the
# extracted tool with only the scratch library folder on the loader's path.
# Uses the tree in $BUILD_DIR (default build), building the packaged targets if needed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/../.."
source="$(pwd)"
build="$(cd "${BUILD_DIR:-build}" && pwd)"
cmake --build "$build" --target tarvion tarvion_tool >/dev/null

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
fail() {
  echo "deb test: $*" >&2
  exit 1
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

version="$(cache CMAKE_PROJECT_VERSION)"
arch="$(dpkg --print-architecture)"
(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || {
  cat "$scratch/cpack.log" >&2
  fail "cpack -G DEB failed"
}
debs=("$scratch"/out/*.deb)
[ "${#debs[@]}" = 1 ] || fail "cpack wrote ${#debs[@]} packages: ${debs[*]##*/}"
deb="${debs[0]}"
[ "${deb##*/}" = "tarvion_${version}_${arch}.deb" ] || fail "package is ${deb##*/}, expected tarvion_${version}_${arch}.deb"
echo "-- ${deb##*/}"

# Control fields: identity, a maintainer, and dependencies computed from what
# the library and the tool link (never on the package itself).
info="$(dpkg-deb -I "$deb")"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarvion ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: '$(field Maintainer)'"
depends="$(field Depends)"
packages="$(tr ',' '\n' <<<"$depends" | sed 's/^ *//')"  # "name (>= version)" lines
for d in libc6 libstdc++6; do
  grep -qF "$d (>= " <<<"$packages" || fail "Depends lacks a versioned $d: $depends"
done
if grep -q '^tarvion\b' <<<"$packages"; then fail "the package depends on itself: $depends"; fi
[ -n "$(field Description)" ] || fail "no Description"
for member in postinst postrm shlibs; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\*? *$member( |$)" <<<"$info" || fail "control member $member missing:"$'\n'"$info"
done
control() { dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./$1"; }
grep -q "^libtarvion 1 tarvion" <(control shlibs) || fail "shlibs does not name libtarvion 1"
# Both scripts run ldconfig (ours replaces CPack's postinst); ours also reloads udev.
for script in postinst postrm; do grep -q ldconfig <(control $script) || fail "$script does not run ldconfig"; done
grep -q 'udevadm trigger' <(control postinst) || fail "postinst does not apply the udev rule"

# Files, as dpkg-deb lists them ("./usr/..." and, for links, "-> target").
libdir="$(cache CMAKE_INSTALL_LIBDIR)"
case "$libdir" in /*) fail "absolute library folder $libdir cannot be packaged" ;; esac
lib="usr/$libdir"
contents="$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')"
has() { grep -qxF "./$1" <<<"$contents" || fail "the package lacks /$1"; }
has "$lib/libtarvion.so.$version"
has "$lib/libtarvion.so.1 -> libtarvion.so.$version"
has "$lib/libtarvion.so -> libtarvion.so.1"
for f in tarvion.h tarvion.hpp entry.hpp ctrl_methods.inc; do has "usr/include/tarvion/$f"; done
has "$lib/cmake/Tarvion/TarvionConfig.cmake"
has "$lib/pkgconfig/tarvion.pc"
has usr/bin/tarvion
has usr/share/man/man1/tarvion.1.gz
has usr/lib/udev/rules.d/60-tarvion.rules
if grep -E '^\./usr/local|_CPack_Packages' <<<"$contents"; then fail "the package holds files outside /usr"; fi

# The extracted tree, a scratch root of its own.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
cmp -s "$root/usr/lib/udev/rules.d/60-tarvion.rules" "$source/packaging/udev/60-tarvion.rules" ||
  fail "the packaged udev rule differs from packaging/udev/60-tarvion.rules"
# This udev (252) has no `udevadm verify`: each rule line must at least be a
# list of KEY op "value" pairs of keys udev knows, matching the device kinds
# Tarvion searches, with a group assignment.
rules="$(grep -vE '^\s*(#|$)' "$source/packaging/udev/60-tarvion.rules")"
pair='(SUBSYSTEMS?|KERNEL|ATTRS\{[a-zA-Z]+\}|ENV\{[A-Z_]+\}|GROUP|MODE|SYMLINK|TAG)(==|!=|=|\+=)"[^"]*"'
while read -r rule; do
  [[ "$rule" =~ ^$pair(,\ $pair)*$ ]] || fail "malformed udev rule: $rule"
done <<<"$rules"
for kind in 'KERNEL=="ttyACM[0-9]*|ttyUSB[0-9]*"|GROUP="dialout"' 'KERNEL=="lp[0-9]*"|GROUP="lp"'; do
  match="${kind%%|GROUP*}" group="${kind##*|}"
  grep -F "$match" <<<"$rules" | grep -qF "$group" || fail "no udev rule gives $match to $group"
done
soname="$(objdump -p "$root/$lib/libtarvion.so.$version" | awk '$1 == "SONAME" { print $2 }')"
[ "$soname" = libtarvion.so.1 ] || fail "SONAME is '$soname'"
grep -qx 'prefix=/usr' "$root/$lib/pkgconfig/tarvion.pc" || fail "tarvion.pc: $(grep '^prefix=' "$root/$lib/pkgconfig/tarvion.pc")"
if grep -rlF "$build" "$root/usr/include" "$root/$lib/pkgconfig" "$root/$lib/cmake"; then
  fail "the packaged files above name the build folder $build"
fi
# The page is the one the tool's command line describes, and renders.
gzip -dc "$root/usr/share/man/man1/tarvion.1.gz" | cmp -s - "$build/tarvion.1" || fail "packaged man page is stale"
man_errors="$(MANWIDTH=80 man --warnings=w -l "$root/usr/share/man/man1/tarvion.1.gz" 2>&1 >/dev/null)"
[ -z "$man_errors" ] || fail "man page warnings: $man_errors"

run() {
  local out
  out="$(LD_LIBRARY_PATH="$root/$lib" "$@")" || fail "$1 failed: $out"
  echo "  $out"
}
models="$(LD_LIBRARY_PATH="$root/$lib" "$root/usr/bin/tarvion" models --json)" || fail "the packaged tool failed"
[[ "$models" == *'"fiscal"'* ]] || fail "tarvion models --json printed: ${models:0:200}"

echo "-- pkg-config"
export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$root/$lib/pkgconfig" PKG_CONFIG_PATH=""
[ "$(pkg-config --modversion tarvion)" = "$version" ] || fail "tarvion.pc gives version $(pkg-config --modversion tarvion)"
read -r -a cflags <<<"$(pkg-config --cflags tarvion)"
read -r -a libs <<<"$(pkg-config --libs tarvion)"
[ "${cflags[*]}" = "-I$root/usr/include" ] || fail "pkg-config --cflags gives ${cflags[*]}"
"${CC:-cc}" -Wall -Wextra -Werror "${cflags[@]}" "$here/c_client.c" -o "$scratch/c_pc" "${libs[@]}"
"${CXX:-c++}" -std=c++20 -Wall -Wextra -Werror "${cflags[@]}" "$here/cpp_client.cpp" -o "$scratch/cpp_pc" "${libs[@]}"
run "$scratch/c_pc"
run "$scratch/cpp_pc"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

echo "-- find_package"
cmake -S "$here" -B "$scratch/client" -DCMAKE_PREFIX_PATH="$root/usr" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON \
  -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$scratch/client" >/dev/null
found="$(sed -n 's/^Tarvion_DIR:PATH=//p' "$scratch/client/CMakeCache.txt")"
[ "$found" = "$root/$lib/cmake/Tarvion" ] || fail "find_package used $found, not the extracted package"
run "$scratch/client/c_client"
run "$scratch/client/cpp_client"
echo "deb test: passed"
