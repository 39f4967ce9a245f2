#!/usr/bin/env bash
# Runs torvex-flash in an emulated PC, through the Debian kernel's own USB
# serial (ftdi_sio) and UART (8250) drivers, against simulated indicators on
# this machine's pseudo-terminals; unplugs and replugs the USB adapters for real.
# Usage: tests/vm/run.sh [BUILD_DIR]   (prints one line per scenario)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
bin=$build/bin
cache=$build/vm-cache
modules="usb-common usbcore uhci-hcd xhci-hcd xhci-pci usbserial ftdi_sio"

. "$top/scripts/packages.sh"
TORVEX_PACKAGE_LOG=$build/packages.log ensure_packages qemu-system-x86 busybox-static cpio xz-utils

tmp=$(mktemp -d -t torvex-vm.XXXXXX)
qemu=
declare -A sim=()
cleanup() {
  trap - EXIT INT TERM
  set +e
  [ -n "${closed:-}" ] || printf 'FAIL the rig stopped before its scenarios ended\n0 passed, 1 failed\n'
  [ -z "$qemu" ] || { kill "$qemu" 2>/dev/null; wait "$qemu" 2>/dev/null; }
  for name in "${!sim[@]}"; do stop_sim "$name"; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM

# Debian's kernel, unpacked into the cache, never installed: the image and the
# modules named above with what they depend on, uncompressed for busybox insmod.
fetch_kernel() {
  [ -f "$cache/order" ] && return
  rm -rf "$cache" && mkdir -p "$cache/deb"
  local pkg
  kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/ *Depends: \(linux-image-[0-9].*\)/\1/p'; }
  pkg=$(kernel_package)
  [ -n "$pkg" ] || { apt-get update >>"$build/packages.log" 2>&1; pkg=$(kernel_package); }
  echo "Downloading $pkg into $cache"
  (cd "$cache/deb" && apt-get download "$pkg") >>"$build/packages.log" 2>&1
  dpkg-deb -x "$cache"/deb/*.deb "$cache/deb/root"
  cp "$cache"/deb/root/boot/vmlinuz-* "$cache/vmlinuz"
  local order=() m
  add_module() {
    local f deps
    [[ " ${order[*]} " == *" $1 "* ]] && return
    f=$(find "$cache/deb/root/lib/modules" -name "$1.ko*" | head -1)
    case $f in *.xz) xz -dc "$f" ;; *) cat "$f" ;; esac >"$cache/$1.ko"
    deps=$(tr '\0' '\n' <"$cache/$1.ko" | sed -n 's/^depends=//p' | tr , ' ')
    for m in $deps; do add_module "$m"; done
    order+=("$1")
  }
  for m in $modules; do add_module "$m"; done
  rm -rf "$cache/deb"
  echo "${order[*]}" >"$cache/order"
}

# busybox, torvex-flash and the libraries it loads, the modules, the scenarios.
make_initramfs() {
  local r=$tmp/root lib
  mkdir -p "$r"/{bin,dev,proc,sys,tmp,run,var,modules}
  ln -s /run/lock "$r/var/lock"
  cp "$(command -v busybox)" "$r/bin/busybox"
  cp "$here/init" "$r/init" && cp "$here/guest.sh" "$r/guest.sh"
  strip -o "$r/bin/torvex-flash" "$bin/torvex-flash"
  for lib in $(ldd "$bin/torvex-flash" | grep -o '/[^ ]*'); do
    mkdir -p "$r$(dirname "$lib")" && cp -L "$lib" "$r$lib"
  done
  cp "$cache"/*.ko "$cache/order" "$r/modules/"
  cp "$tmp/img.bin" "$tmp/ref.txt" "$r/"
  (cd "$r" && find . | cpio -o -H newc --quiet) >"$tmp/initramfs"
}

start_sim() { # NAME [OPTIONS...]: a fresh simulated indicator; sets pty
  local name=$1 i
  shift
  stop_sim "$name"
  rm -f "$tmp/$name.flash"
  : >"$tmp/$name.out"
  "$bin/torvex-sim" --link "$tmp/$name.tty" --flash-out "$tmp/$name.flash" "$@" \
    >>"$tmp/$name.out" 2>>"$tmp/sims.log" &
  sim[$name]=$!
  for i in $(seq 50); do
    pty=$(sed -n 's/^slave //p' "$tmp/$name.out")
    [ -z "$pty" ] || return 0
    sleep 0.1
  done
  return 1
}
stop_sim() { [ -z "${sim[$1]:-}" ] || { kill "${sim[$1]}"; wait "${sim[$1]}"; unset "sim[$1]"; } 2>/dev/null || true; }
flash_of() { # the simulator's flash since the last look: equal, differ or none
  if [ ! -f "$tmp/$1.flash" ]; then echo none
  elif cmp -s "$tmp/img.bin" "$tmp/$1.flash"; then echo equal
  else echo differ; fi
  rm -f "$tmp/$1.flash"
}

log() { echo "$*" >>"$tmp/console.log"; [ -z "${TORVEX_VM_VERBOSE:-}" ] || echo "> $*"; }
hmp() { # one monitor command, through the machine protocol; any output is an error
  printf '{"execute":"human-monitor-command","arguments":{"command-line":"%s"}}\n' "$*" >&"$qin"
  local line
  while IFS=$'\r' read -r -t 30 line <&"$qout"; do
    case $line in
      '{"return": ""}') return 0 ;;
      '{"return"'* | '{"error"'*) log "qemu: $*: $line"; return 1 ;;
    esac
  done
  return 1
}

# Requests from the guest script, one line each; the answer is one line.
serve() {
  answer=ok
  case $1 in
    sim) # sim ADAPTER [OPTIONS...]: a new indicator behind the unplugged adapter
      local name=$2
      shift 2
      { [ -z "${sim[$name]:-}" ] || hmp chardev-remove "c$name"; } &&
        start_sim "$name" "$@" && hmp chardev-add "serial,id=c$name,path=$pty" ;;
    plug) hmp device_add "usb-serial,id=$2,chardev=c$2" ;;
    unplug) hmp device_del "$2" ;;
    flash) answer=$(flash_of "$2") ;;
    *) false ;;
  esac || answer=failed
}

start=$(date +%s)
fetch_kernel
"$bin/torvex-sim" --make-image "$tmp/img.bin" --image-size 20000 >/dev/null
# The same update on a pseudo-terminal: the status lines the guest must see.
start_sim ref
"$bin/torvex-flash" --device "$tmp/ref.tty" "$tmp/img.bin" </dev/null | tail -n +3 >"$tmp/ref.txt"
[ "$(flash_of ref)" = equal ] || { echo "FAIL reference update on a pseudo-terminal"; exit 1; }
stop_sim ref
make_initramfs

mkfifo "$tmp"/{con,qmp}.{in,out}
start_sim uart
qemu-system-x86_64 -accel tcg -m 512M -nodefaults -no-user-config -display none -no-reboot \
  -kernel "$cache/vmlinuz" -initrd "$tmp/initramfs" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1" \
  -chardev pipe,id=con,path="$tmp/con" -serial chardev:con \
  -chardev serial,id=cuart,path="$pty" -serial chardev:cuart \
  -chardev pipe,id=qmp,path="$tmp/qmp" -mon chardev=qmp,mode=control \
  -usb >>"$tmp/qemu.log" 2>&1 &
qemu=$!
exec {qin}>"$tmp/qmp.in" {qout}<"$tmp/qmp.out" {cin}<"$tmp/con.out" {cout}>"$tmp/con.in"
echo '{"execute":"qmp_capabilities"}' >&"$qin"
until [ "${line:-}" = '{"return": {}}' ]; do IFS=$'\r' read -r -t 30 line <&"$qout"; done

passed=0 failed=0 done=
while IFS= read -r -t 120 line <&"$cin"; do
  line=${line%$'\r'}
  log "$line"
  case $line in
    '@@ done') done=1; break ;;
    '@@ '*) serve ${line#@@ }; echo "$answer" >&"$cout" ;;  # words split on purpose
    PASS*) echo "$line"; passed=$((passed + 1)) ;;
    FAIL*) echo "$line"; failed=$((failed + 1)) ;;
  esac
done
if [ -z "$done" ]; then
  echo "FAIL the emulated PC stopped early; its console said:"
  tail -n 20 "$tmp/console.log" "$tmp/qemu.log"
  failed=$((failed + 1))
fi
echo "Emulated PC rig: $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
closed=1
[ "$failed" -eq 0 ]
