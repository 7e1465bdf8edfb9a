#!/usr/bin/env bash
# Builds the Debian package with CPack and proves it holds what a host and a
# user need: its name and control fields (dpkg-deb -I), its files (dpkg-deb -c:
# the library and its SONAME link, headers, CMake package, pkg-config file, the
# tool, the manual page, the udev rule, the tarvion-serve unit with its user and
# default configuration), then extracts it into a scratch root
# (dpkg-deb -x) and builds a C and a C++ host against the extracted files only,
# through pkg-config and through find_package(Tarvion), and runs them and the
# extracted tool with only the scratch library folder on the loader's path.
# The service: systemd-analyze verify passes the unit without a word, the
# sysusers file creates the user in a scratch passwd, postinst (run against
# stand-in commands) creates the user and never enables or starts the unit, and
# the extracted tool serves the default configuration.
# Uses the tree in $BUILD_DIR (default build), building the packaged targets if needed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/../.."
source="$(pwd)"
build="$(cd "${BUILD_DIR:-build}" && pwd)"
# Every packaged target by a name Ninja cannot mistake: `tarvion` is also the
# tool's file name, so it builds the tool; the emulator library links the
# shared library and builds it.
cmake --build "$build" --target tarvion_tool tarvion_emulator_shared >/dev/null

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
for member in postinst prerm postrm shlibs conffiles; do
  grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\*? *$member( |$)" <<<"$info" || fail "control member $member missing:"$'\n'"$info"
done
control() { dpkg-deb --ctrl-tarfile "$deb" | tar -xO "./$1"; }
grep -q "^libtarvion 1 tarvion" <(control shlibs) || fail "shlibs does not name libtarvion 1"
# Both scripts run ldconfig (ours replaces CPack's postinst); ours also reloads udev.
for script in postinst postrm; do grep -q ldconfig <(control $script) || fail "$script does not run ldconfig"; done
grep -q 'udevadm trigger' <(control postinst) || fail "postinst does not apply the udev rule"
# dpkg keeps the administrator's edits of the service's configuration.
[ "$(control conffiles)" = /etc/tarvion/serve.json ] || fail "conffiles: $(control conffiles)"

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
has usr/lib/systemd/system/tarvion-serve.service
has usr/lib/sysusers.d/tarvion.conf
has etc/tarvion/serve.json
if grep -vE '^\./($|usr/|etc/$|etc/tarvion/)' <<<"$contents" || grep -E '^\./usr/local|_CPack_Packages' <<<"$contents"; then
  fail "the package holds the files above outside /usr and /etc/tarvion"
fi

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

# The service's files are the ones in packaging/ (the prefix is /usr, so the
# install rules leave the unit's paths as written).
for pair in usr/lib/systemd/system/tarvion-serve.service:packaging/systemd/tarvion-serve.service \
  usr/lib/sysusers.d/tarvion.conf:packaging/sysusers/tarvion.conf etc/tarvion/serve.json:packaging/serve/serve.json; do
  cmp -s "$root/${pair%%:*}" "$source/${pair#*:}" || fail "the packaged /${pair%%:*} differs from ${pair#*:}"
done
unit="$root/usr/lib/systemd/system/tarvion-serve.service"
key() { sed -n "s/^$1=//p" "$unit"; }
# What the unit runs is in the package: the tool and the configuration.
read -r -a exec_start <<<"$(key ExecStart)"
[ "${exec_start[*]:1}" = "serve --config /etc/tarvion/serve.json" ] || fail "ExecStart=${exec_start[*]}"
[ -x "$root${exec_start[0]}" ] || fail "ExecStart names ${exec_start[0]}, which the package does not hold"
# The unit, the user and the configuration agree: the user the unit runs as
# is the one the sysusers file creates, in the groups the udev rule gives
# ports and printers to, with the state folder as its home, and the
# configuration keeps everything in that folder.
[ "$(key User)" = tarvion ] && [ "$(key StateDirectory)" = tarvion ] || fail "User=$(key User) StateDirectory=$(key StateDirectory)"
[ "$(key WorkingDirectory)" = /var/lib/tarvion ] || fail "WorkingDirectory=$(key WorkingDirectory)"
for group in dialout lp; do
  grep -qw "$group" <<<"$(key SupplementaryGroups)" || fail "the unit does not run in the group $group"
done
# Anything that narrows /dev to a list shuts the ports out: PrivateDevices,
# a DevicePolicy or DeviceAllow, and ProtectClock (which implies a DeviceAllow).
if grep -nE '^(PrivateDevices|DevicePolicy|DeviceAllow|ProtectClock)=' "$unit"; then
  fail "the unit hides serial ports and USB printers from the service"
fi
for kept in NoNewPrivileges=yes CapabilityBoundingSet= ProtectSystem=strict ProtectHome=yes UMask=0077 \
  Restart=on-failure; do
  grep -qx "$kept" "$unit" || fail "the unit lost $kept"
done
grep -q '^\[Install\]' "$unit" && grep -qx 'WantedBy=multi-user.target' "$unit" || fail "the unit cannot be enabled"
# systemd-analyze verify (no running systemd needed) checks every key and
# value, that the program exists and that the Documentation= page opens: the
# copy runs the extracted tool, and man looks in the extracted pages. Its
# warnings do not change its status, so any word it says fails the test.
sed "s#^ExecStart=/usr/bin/tarvion #ExecStart=$root/usr/bin/tarvion #" "$unit" >"$scratch/tarvion-serve.service"
verified="$(cd "$scratch" && MANPATH="$root/usr/share/man" systemd-analyze verify ./tarvion-serve.service 2>&1)" ||
  fail "systemd-analyze verify failed: $verified"
[ -z "$verified" ] || fail "systemd-analyze verify: $verified"
echo "-- systemd-analyze verify tarvion-serve.service: clean"

# The sysusers file, applied to a scratch passwd and group that have only
# root and the two device groups.
users="$scratch/users"
mkdir -p "$users/etc" "$users/usr/lib/sysusers.d"
printf 'root:x:0:0:root:/root:/bin/bash\n' >"$users/etc/passwd"
printf 'root:x:0:\ndialout:x:20:\nlp:x:7:\n' >"$users/etc/group"
cp "$root/usr/lib/sysusers.d/tarvion.conf" "$users/usr/lib/sysusers.d/"
systemd-sysusers --root="$users" tarvion.conf >"$scratch/sysusers.log" 2>&1 || fail "systemd-sysusers: $(cat "$scratch/sysusers.log")"
IFS=: read -r _ _ uid gid _ home shell < <(grep '^tarvion:' "$users/etc/passwd") || fail "no user tarvion in passwd"
[ "$home:$shell" = /var/lib/tarvion:/usr/sbin/nologin ] || fail "tarvion's home and shell: $home:$shell"
[ "$uid" -gt 0 ] && [ "$uid" -lt 1000 ] || fail "tarvion is not a system user (uid $uid)"
grep -qx "tarvion:x:$gid:" "$users/etc/group" || fail "no group tarvion with gid $gid"
for group in dialout lp; do
  grep -qE "^$group:x:[0-9]+:(.*,)?tarvion(,|$)" "$users/etc/group" || fail "tarvion is not in $group"
done

# postinst against stand-ins that log their arguments: it creates the user
# through systemd-sysusers, or adduser where that is missing, and never
# enables, starts or restarts the service.
stand_in() {
  mkdir -p "$1"
  for c in "${@:2}"; do
    printf '#!/bin/sh\necho "%s${*:+ $*}" >>"%s"\n' "$c" "$scratch/calls" >"$1/$c"
    chmod +x "$1/$c"
  done
}
control postinst >"$scratch/postinst"
stand_in "$scratch/bin1" ldconfig udevadm systemd-sysusers adduser getent systemctl deb-systemd-helper deb-systemd-invoke
stand_in "$scratch/bin2" ldconfig udevadm adduser systemctl deb-systemd-helper deb-systemd-invoke
# getent finds the groups but not the user.
printf '#!/bin/sh\necho "getent $*" >>"%s"\n[ "$1" = group ]\n' "$scratch/calls" >"$scratch/bin2/getent"
chmod +x "$scratch/bin2/getent"
declare -A calls
for bin in bin1 bin2; do
  : >"$scratch/calls"
  PATH="$scratch/$bin" /bin/sh "$scratch/postinst" configure || fail "postinst ($bin) failed: $(cat "$scratch/calls")"
  calls[$bin]="$(cat "$scratch/calls")"
  grep -qx ldconfig <<<"${calls[$bin]}" || fail "postinst ($bin) did not run ldconfig: ${calls[$bin]}"
  if grep -E 'enable|start|restart|reload-or|unmask' <<<"${calls[$bin]}" | grep -v daemon-reload; then
    fail "postinst ($bin) touches the service"
  fi
done
[ "$(grep -E '^(systemd-sysusers|adduser)' <<<"${calls[bin1]}")" = 'systemd-sysusers tarvion.conf' ] ||
  fail "postinst does not apply the sysusers file alone: ${calls[bin1]}"
expected="adduser --quiet --system --group --home /var/lib/tarvion --no-create-home --shell /usr/sbin/nologin tarvion
adduser --quiet tarvion dialout
adduser --quiet tarvion lp"
[ "$(grep ^adduser <<<"${calls[bin2]}")" = "$expected" ] || fail "postinst without systemd-sysusers ran: ${calls[bin2]}"

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

# The extracted tool serves the default configuration, its folder moved into
# the scratch root and its port to a free one: the training printer answers,
# the journal is written, and SIGTERM stops it cleanly.
echo "-- tarvion serve --config /etc/tarvion/serve.json"
state="$scratch/state"
mkdir -m 700 "$state"
port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
sed -e "s#/var/lib/tarvion#$state#g" -e "s#127.0.0.1:8787#127.0.0.1:$port#" "$root/etc/tarvion/serve.json" >"$scratch/serve.json"
grep -q "$state" "$scratch/serve.json" && ! grep -q /var/lib "$scratch/serve.json" || fail "the default configuration does not keep its files in /var/lib/tarvion"
# Started in the state folder, as the unit's WorkingDirectory does.
(cd "$state" && LD_LIBRARY_PATH="$root/$lib" exec "$root/usr/bin/tarvion" serve --config "$scratch/serve.json") \
  2>"$scratch/serve.log" &
serve_pid=$!
for _ in $(seq 100); do
  grep -q 'listening on' "$scratch/serve.log" || ! kill -0 $serve_pid 2>/dev/null && break
  sleep 0.1
done
printers="$(python3 -c 'import sys, urllib.request; print(urllib.request.urlopen(sys.argv[1], timeout=10).read().decode())' \
  "http://127.0.0.1:$port/printers" 2>&1)" || printers="(no answer) $printers"
kill -TERM $serve_pid 2>/dev/null || true
serve_status=0
wait $serve_pid || serve_status=$?
[[ "$printers" == *'"id":"treino"'*'"virtual":true'* ]] || fail "GET /printers: $printers"$'\n'"$(cat "$scratch/serve.log")"
[ "$serve_status" = 0 ] && grep -q 'tarvion serve: stopped' "$scratch/serve.log" ||
  fail "tarvion serve did not stop cleanly ($serve_status): $(cat "$scratch/serve.log")"
[ -f "$state/journal" ] && [ -f "$state/treino.json" ] || fail "the journal or the printer state is not in the state folder: $(ls "$state")"

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
