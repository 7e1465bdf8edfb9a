#!/usr/bin/env bash
# Installs the built tree into a scratch root (DESTDIR) and proves the installed
# files are enough for a host: a C and a C++ program are built against them,
# once through pkg-config and once through find_package(Tarvion), and run with
# only the scratch library folder on the loader's path. Also checks what the
# shared library exports and that no installed header points into a build folder.
# The same for the emulator library (a C host running a sale on a virtual
# printer) and the Python package (pip into a venv, import, its tests).
# Uses the tree in $BUILD_DIR (default build), building the installed targets if needed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/../.."
build="$(cd "${BUILD_DIR:-build}" && pwd)"
cmake --build "$build" --target tarvion tarvion_tool tarvion_emulator_shared >/dev/null

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
root="$scratch/root"
fail() {
  echo "install test: $*" >&2
  exit 1
}

DESTDIR="$root" cmake --install "$build" >/dev/null
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
libdir="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")"
case "$libdir" in /*) ;; *) libdir="$prefix/$libdir" ;; esac
lib="$root$libdir"

# The files a host needs, and the library's version chain.
for f in "$lib/libtarvion.so" "$lib/libtarvion.so.1" "$root$prefix/include/tarvion/tarvion.h" \
  "$root$prefix/include/tarvion/tarvion.hpp" "$root$prefix/include/tarvion/ctrl_methods.inc" \
  "$lib/pkgconfig/tarvion.pc" "$lib/cmake/Tarvion/TarvionConfig.cmake" \
  "$lib/cmake/Tarvion/TarvionConfigVersion.cmake" "$root$prefix/bin/tarvion"; do
  [ -e "$f" ] || fail "missing ${f#"$root"}"
done
for f in "$lib/libtarvion-emulator.so" "$lib/libtarvion-emulator.so.1" "$root$prefix/include/tarvion/emulator.h" \
  "$lib/pkgconfig/tarvion-emulator.pc"; do
  [ -e "$f" ] || fail "missing ${f#"$root"}"
done
soname="$(objdump -p "$lib/libtarvion-emulator.so" | awk '$1 == "SONAME" { print $2 }')"
[ "$soname" = libtarvion-emulator.so.1 ] || fail "SONAME is '$soname', expected libtarvion-emulator.so.1"
soname="$(objdump -p "$lib/libtarvion.so" | awk '$1 == "SONAME" { print $2 }')"
[ "$soname" = libtarvion.so.1 ] || fail "SONAME is '$soname', expected libtarvion.so.1"
if grep -rlF "$build" "$root$prefix/include" "$lib/pkgconfig" "$lib/cmake"; then
  fail "the installed files above name the build folder $build"
fi

# The service unit follows the prefix (the package's /usr/bin and /etc are
# only right for /usr), and its default configuration is where it looks.
etc="$prefix/etc"
[ "$prefix" = /usr ] && etc=/etc
unit="$root$prefix/lib/systemd/system/tarvion-serve.service"
[ -f "$root$prefix/lib/sysusers.d/tarvion.conf" ] || fail "missing $prefix/lib/sysusers.d/tarvion.conf"
exec_start="$(sed -n 's/^ExecStart=//p' "$unit")"
[ "$exec_start" = "$prefix/bin/tarvion serve --config $etc/tarvion/serve.json" ] || fail "the unit runs $exec_start"
[ -f "$root$etc/tarvion/serve.json" ] || fail "missing $etc/tarvion/serve.json"

# Exports: the C interface and the C++ control, nothing of the drivers or the
# virtual printers (everything else in the tarvion namespace is internal).
symbols="$(nm -D --defined-only "$lib/libtarvion.so" | c++filt)"
for s in tarvion_create tarvion_destroy tarvion_call tarvion_last_output tarvion_last_status tarvion_last_outcome \
  tarvion_entry_count tarvion_entry_name 'tarvion::CTarvionCtrl::Invoke(int' 'tarvion::findEntry(int)' \
  tarvion_entry_info tarvion_entry_param tarvion_attach_device tarvion_detach_device tarvion_wire_send \
  tarvion_wire_now_us tarvion_wire_hang_up; do
  grep -qF " $s" <<<"$symbols" || fail "libtarvion.so does not export $s"
done
internal="$(grep ' tarvion::' <<<"$symbols" |
  grep -vE ' tarvion::(CTarvionCtrl::|findEntry\(|entryTable\(|typeName\(|kindName\()' || true)"
[ -z "$internal" ] || fail "libtarvion.so exports internal symbols:"$'\n'"$internal"

# The emulator library exports its C entry point only, and takes the port seam
# from libtarvion.so.1 (undefined here), never from a copy of its own.
symbols="$(nm -D --defined-only "$lib/libtarvion-emulator.so" | c++filt)"
for s in tarvion_emulator_attach tarvion_emulator_detach tarvion_emulator_paper tarvion_emulator_model; do
  grep -qF " $s" <<<"$symbols" || fail "libtarvion-emulator.so does not export $s"
done
extra="$(grep -E ' (tarvion::|tarvion_)' <<<"$symbols" | grep -v ' tarvion_emulator_' || true)"
[ -z "$extra" ] || fail "libtarvion-emulator.so exports more than its C entry point:"$'\n'"$extra"
nm -D --undefined-only "$lib/libtarvion-emulator.so" | grep -q ' tarvion_attach_device$' ||
  fail "libtarvion-emulator.so does not take tarvion_attach_device from libtarvion"
objdump -p "$lib/libtarvion-emulator.so" | grep -q 'NEEDED *libtarvion\.so\.1$' ||
  fail "libtarvion-emulator.so does not link libtarvion.so.1"

run() {
  local out
  out="$(LD_LIBRARY_PATH="$lib" "$@")" || fail "$1 failed: $out"
  echo "  $out"
}

echo "-- pkg-config"
export PKG_CONFIG_SYSROOT_DIR="$root" PKG_CONFIG_LIBDIR="$lib/pkgconfig" PKG_CONFIG_PATH=""
[ "$(pkg-config --modversion tarvion)" = "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" ] ||
  fail "tarvion.pc gives version $(pkg-config --modversion tarvion)"
read -r -a cflags <<<"$(pkg-config --cflags tarvion)"
read -r -a libs <<<"$(pkg-config --libs tarvion)"
"${CC:-cc}" -Wall -Wextra -Werror "${cflags[@]}" "$here/c_client.c" -o "$scratch/c_pc" "${libs[@]}"
"${CXX:-c++}" -std=c++20 -Wall -Wextra -Werror "${cflags[@]}" "$here/cpp_client.cpp" -o "$scratch/cpp_pc" "${libs[@]}"
run "$scratch/c_pc"
run "$scratch/cpp_pc"
read -r -a cflags <<<"$(pkg-config --cflags tarvion-emulator)"
read -r -a libs <<<"$(pkg-config --libs tarvion-emulator)"
"${CC:-cc}" -Wall -Wextra -Werror "${cflags[@]}" "$here/emulator_client.c" -o "$scratch/emulator_pc" "${libs[@]}"
run "$scratch/emulator_pc"
unset PKG_CONFIG_SYSROOT_DIR PKG_CONFIG_LIBDIR PKG_CONFIG_PATH

echo "-- find_package"
cmake -S "$here" -B "$scratch/client" -DCMAKE_PREFIX_PATH="$root$prefix" -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$scratch/client" >/dev/null
found="$(sed -n 's/^Tarvion_DIR:PATH=//p' "$scratch/client/CMakeCache.txt")"
[ "$found" = "$lib/cmake/Tarvion" ] || fail "find_package used $found, not the scratch install"
run "$scratch/client/c_client"
run "$scratch/client/cpp_client"
run "$scratch/client/emulator_client"

# The Python package, installed with Debian's pip and setuptools only (no
# package index) into a virtual environment that sees the system's packages,
# then imported and tested against the scratch libraries and tool. No loader
# path is set: the emulator library must find libtarvion.so.1 already loaded.
echo "-- Python"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -m venv --system-site-packages "$scratch/venv"
cp -r python "$scratch/python-src"  # the build writes beside the sources
PIP_DISABLE_PIP_VERSION_CHECK=1 "$scratch/venv/bin/python" -m pip install -q --no-index --no-build-isolation \
  "$scratch/python-src" || fail "pip install ./python failed"
export TARVION_LIBRARY="$lib/libtarvion.so.1" TARVION_EMULATOR_LIBRARY="$lib/libtarvion-emulator.so.1"
where="$(cd "$scratch" && "$scratch/venv/bin/python" -c "import tarvion; print(tarvion.__file__)")" ||
  fail "import tarvion failed"
case "$where" in "$scratch/venv/"*) echo "  import tarvion: $where" ;; *) fail "imported tarvion from $where" ;; esac
(cd "$scratch" && TARVION_TEST_INSTALLED=1 TARVION_TOOL="$root$prefix/bin/tarvion" \
  "$scratch/venv/bin/python" -m pytest -q -p no:cacheprovider "$scratch/python-src/tests") ||
  fail "the Python package's tests failed against the installed files"
echo "install test: passed"
