#!/usr/bin/env bash
# Builds the Debian package (no tests) and checks it: Depends names the
# libraries the programs link, as dpkg-shlibdeps computed it; lintian finds no
# error; unpacked into a scratch folder, every program answers --version,
# torvex-flash updates a simulated indicator through the shipped configuration
# and a comN link beside it, and the window without a display says so in one
# line and exits with 1.
# Usage: scripts/package.sh [BUILD_DIR]   (default build-pkg)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-pkg}
mkdir -p "$build"
export TORVEX_PACKAGE_LOG="$build/packages.log"

. scripts/packages.sh
ensure_packages g++ make cmake qt6-base-dev qt6-serialport-dev file dpkg-dev lintian

fail() { echo "package: $*" >&2; exit 1; }
# Runs a step with its output in a log, shown only when the step fails.
quiet() {
  local log=$1; shift
  "$@" >"$log" 2>&1 || { cat "$log" >&2; fail "failed: $* (log: $log)"; }
}

# Debian's compiler and linker flags, hardening included, as a Debian build uses them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
echo "Building in $build (log: $build/build.log)"
quiet "$build/build.log" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
# The manual pages need every installed program: building them builds those.
quiet "$build/build-steps.log" cmake --build "$build" -j"$(nproc)" --target manpages
cat "$build/build-steps.log" >>"$build/build.log"
rm -f "$build"/bootloadertorvexii_*.deb
quiet "$build/cpack.log" bash -c "cd '$build' && cpack -G DEB"
debs=("$build"/bootloadertorvexii_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no package (log: $build/cpack.log)"
echo "Package: $deb"

tree=$(mktemp -d)
sim=""
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null; rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree/root"
root=$tree/root
app=$root/usr/lib/bootloadertorvexii

# Depends: every library package the programs need, no fewer.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in $(for f in "$app"/*; do
               [ -L "$f" ] || readelf -d "$f" 2>/dev/null | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'
             done | sort -u); do
  [[ $lib == libQt6* ]] || continue
  owner=$(dpkg -S "*/$lib" 2>/dev/null | head -n1 | cut -d: -f1)
  [ -n "$owner" ] || fail "no package owns $lib"
  grep -Eq "(^|[ ,])$owner( |,|$)" <<<"$depends" || fail "Depends lacks $owner ($lib)"
done
for p in libqt6serialport6 qt6-qpa-plugins; do
  grep -Eq "(^|[ ,])$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
done

lintian_log=$build/lintian.log
lintian --fail-on error "$deb" >"$lintian_log" 2>&1 || { cat "$lintian_log" >&2; fail "lintian reports errors"; }
echo "lintian: $(grep -c '^E:' "$lintian_log" || true) errors, $(grep -c '^W:' "$lintian_log" || true) warnings (log: $lintian_log)"
grep '^W:' "$lintian_log" || true

# The configuration: a conffile under /etc, linked beside the programs.
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)
[ "$conffiles" = /etc/bootloadertorvexii/BootLoaderTorvexII.ini ] || fail "conffiles: $conffiles"
[ -f "$root/etc/bootloadertorvexii/BootLoaderTorvexII.ini" ] || fail "no configuration under /etc"
[ "$(readlink "$app/BootLoaderTorvexII.ini")" = /etc/bootloadertorvexii/BootLoaderTorvexII.ini ] ||
  fail "BootLoaderTorvexII.ini beside the programs is not a link to /etc"

version=$(dpkg-deb -f "$deb" Version)
for program in "$root"/usr/bin/*; do
  name=${program##*/}
  got=$("$program" --version) || fail "$name --version failed"
  [ "$got" = "$name $version" ] || fail "$name --version printed: $got"
  [ -f "$root/usr/share/man/man1/$name.1.gz" ] || fail "no manual page for $name"
done
echo "Programs: $(cd "$root/usr/bin" && echo *) (each answers --version $version)"

# An update through the packaged configuration and a comN link beside it.
etc=$root/etc/bootloadertorvexii
"$root/usr/bin/torvex-sim" --make-image "$tree/fw.bin" >/dev/null
"$root/usr/bin/torvex-sim" --link "$etc/com3" --flash-out "$tree/flash.bin" >/dev/null 2>&1 &
sim=$!
for _ in $(seq 50); do [ -L "$etc/com3" ] && break; sleep 0.1; done
quiet "$build/update.log" "$root/usr/bin/torvex-flash" --config "$etc" "$tree/fw.bin"
kill "$sim"; wait "$sim" 2>/dev/null || true; sim=""
cmp -s "$tree/fw.bin" "$tree/flash.bin" || fail "the simulated indicator's flash differs from the image"
echo "Update: torvex-flash wrote the sample image through $(basename "$etc")/com3 (CommNum=3)"

# The window without a display, or with one out of reach: one line, status 1.
for display in "" :271; do
  rc=0
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$display" "$root/usr/bin/BootLoaderTorvexII" \
    >/dev/null 2>"$tree/nodisplay.txt" || rc=$?
  [ "$rc" -eq 1 ] && [ "$(wc -l <"$tree/nodisplay.txt")" -eq 1 ] ||
    fail "with DISPLAY='$display' the window exited with $rc: $(cat "$tree/nodisplay.txt")"
  echo "DISPLAY='$display': $(cat "$tree/nodisplay.txt")"
done

echo "Install it with: apt-get install ./$deb   (as root; apt-get update first on a new machine)"
