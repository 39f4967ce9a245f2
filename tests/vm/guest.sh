# The scenarios, run inside the emulated PC by its init. "@@ REQUEST" asks the
# host's tests/vm/run.sh for a simulator, a plug, an unplug or a look at a
# simulator's flash, and reads its one-line answer from the console.
usb=/sys/bus/usb-serial/devices
uart=/sys/class/tty/ttyS1/flags  # the driver flags, as TIOCGSERIAL reads them

ask() { echo "@@ $*"; read -r reply; [ "$reply" != failed ] || fail "the host failed to $*"; }
fail() { why="$why; $*"; }
report() { if [ -z "$why" ]; then echo "PASS $1"; else echo "FAIL $1:${why#;}"; fi; why=; }
now() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }  # centiseconds
await() { # await [!] PATH: until PATH is there (or gone), 20 s at most
  i=0
  while if [ "$1" = ! ]; then [ -e "$2" ]; else [ ! -e "$1" ]; fi; do
    [ $((i += 1)) -le 200 ] || { fail "waited 20 s for $*"; return 1; }
    usleep 100000
  done
}
plug() { ask plug "$1"; await "/dev/tty${2:-USB0}"; }
unplug() { ask unplug "$1"; await ! "/dev/tty${2:-USB0}"; }
update() { # update NAME ARGS...: torvex-flash ARGS, output in NAME.out and NAME.err
  name=$1
  shift
  timeout -s KILL 60 torvex-flash "$@" </dev/null >"$name.out" 2>"$name.err"
  rc=$?
  [ $rc = 0 ] || fail "exit $rc: $(tail -n 1 "$name.err")"
}
flash_is() { ask flash "$1"; [ "$reply" = "$2" ] || fail "$1's flash: $reply, expected $2"; }
sample() { # sample FILE: FILE's lines every 10 ms into samples until "sampling" goes
  touch sampling
  while [ -e sampling ]; do cat "$1"; usleep 10000; done >samples &
}
no_lock() { ! ls /run/lock/LCK..* /tmp/LCK..* >/dev/null 2>&1 || fail "lock file left: $(ls /run/lock /tmp)"; }

# A whole update through a real driver, its status lines as on a pseudo-terminal.
whole() { # whole NAME DEVICE SIMULATOR
  update "$1" --device "$2" /img.bin
  # The erase's dots count its seconds: one more or less is timing, not a fault.
  tail -n +3 "$1.out" | sed 's/^Erasing flash \.*/Erasing flash ./' >"$1.lines"
  sed 's/^Erasing flash \.*/Erasing flash ./' /ref.txt >ref.lines
  cmp -s "$1.lines" ref.lines ||
    fail "status lines differ from a pseudo-terminal run: $(diff ref.lines "$1.lines" | grep '^[-+][^-+]' | head -n 4 | tr '\n' '|')"
  flash_is "$3" equal
  no_lock
  report "$1"
}

# An unplug once PATTERN shows in the JSON events: a prompt, truthful end.
# With a port link, the link goes with the device, as a udev link would.
unplugged() { # unplugged NAME PATTERN ARGS...
  name=$1 pattern=$2
  shift 2
  torvex-flash --json "$@" /img.bin </dev/null >"$name.out" 2>"$name.err" &
  pid=$! i=0
  until grep -qs "$pattern" "$name.out" || [ $((i += 1)) -gt 200 ]; do usleep 50000; done
  ask unplug us0
  t0=$(now)
  [ "$1" = --device ] || rm cfg/com3
  while kill -0 $pid 2>/dev/null && [ $(($(now) - t0)) -lt 1000 ]; do usleep 50000; done
  took=$(($(now) - t0))
  if kill -0 $pid 2>/dev/null; then
    kill -9 $pid
    fail "still running 10 s after the unplug"
  elif [ $took -gt 500 ]; then
    fail "ended $((took / 100)) s after the unplug"
  fi
  wait $pid
  rc=$?
  [ $rc = 9 ] || fail "exit $rc, expected 9 (port lost)"
  grep -q '^error: port lost: .*/dev/ttyUSB0' "$name.err" || fail "no 'port lost' line naming /dev/ttyUSB0"
  grep '"event":"end"' "$name.out" | grep -q '"outcome":"port-lost"' || fail "JSON end is not port-lost"
  ! grep -q ttyS "$name.out" "$name.err" || fail "fell back to a ttyS device"
  await ! /dev/ttyUSB0
  no_lock
  report "$name"
}

ask sim us0
plug us0
echo 16 >$usb/ttyUSB0/latency_timer  # a real FT232's default; the emulated one reads 0
sample $usb/ttyUSB0/latency_timer
whole update-usb /dev/ttyUSB0 us0
rm sampling && wait
grep -qx 1 samples || fail "latency timer never read 1 during the update"
[ "$(cat $usb/ttyUSB0/latency_timer)" = 16 ] || fail "latency timer $(cat $usb/ttyUSB0/latency_timer) after, 16 before"
report low-latency-usb

before=$(cat $uart)
sample $uart
whole update-uart /dev/ttyS1 uart
rm sampling && wait
low=0
for f in $(cat samples); do low=$((low | $f & 0x2000)); done
[ $low != 0 ] || fail "ASYNC_LOW_LATENCY never set during the update"
[ "$(cat $uart)" = "$before" ] || fail "driver flags $(cat $uart) after, $before before"
report low-latency-uart

unplug us0
ask sim us0 --erase-time 8000
plug us0
unplugged unplug-erase '"stage":"erase"' --device /dev/ttyUSB0
mkdir cfg && printf '[SERIAL]\nCommNum=3\n' >cfg/BootLoaderTorvexII.ini
ln -s /dev/ttyUSB0 cfg/com3
ask sim us0 --program-time 10
plug us0
unplugged unplug-write '"event":"progress"' --port 3 --config cfg
# The same indicator, still in its boot loader, after the replug.
plug us0
update replug --device /dev/ttyUSB0 /img.bin
flash_is us0 equal
report replug

ask sim us1
plug us1 USB1
ln -s /dev/ttyUSB0 cfg/com3
update relink-first --port 3 --config cfg /img.bin
flash_is us0 equal
flash_is us1 none
ln -sf /dev/ttyUSB1 cfg/com3
update relink-second --port 3 --config cfg /img.bin
flash_is us0 none
flash_is us1 equal
report relink

timeout -s KILL 60 torvex-flash --device /dev/ttyUSB0 /img.bin </dev/null >both0.out 2>&1 &
timeout -s KILL 60 torvex-flash --device /dev/ttyUSB1 /img.bin </dev/null >both1.out 2>&1
rc1=$?
wait $!
rc0=$?
[ $rc0 = 0 ] && [ $rc1 = 0 ] || fail "exit $rc0 and $rc1"
flash_is us0 equal
flash_is us1 equal
report two-at-once
echo "@@ done"
