#!/usr/bin/env bash
# The host's side of the drivers leg: a Linux guest under qemu (TCG) that runs velmoran on
# its own serial drivers, each port wired to a stand-in device on this machine.
#   guest.sh fetch ARCH CACHE   Debian's kernel and busybox for ARCH (amd64, arm64), once
#                               for each kernel build and module list: vmlinuz, and
#                               base.cpio.gz with busybox and the modules for the serial
#                               drivers, the USB gadgets and the virtio console, in the
#                               folder that it prints
#   guest.sh pack OUT FILE...   an initramfs part holding each FILE at /
#   guest.sh boot ARCH DIR CACHE SIM
#                               boots ARCH with DIR/tool.cpio.gz over its base; writes each
#                               case's .exit, .ms (its time), .out, .reopen (whether user
#                               65534 could open the port after it), .trace (its stretch of
#                               qemu's trace), .usbmon (the guest's, for CDC-ACM) and .chip
#                               (the chip's log, for a chip) to DIR/run, beside each stand-in's
#                               sim-PORT.log, each chip's CHIP.port (its tty) or CHIP.fault,
#                               and console.log
set -euo pipefail
fail() { echo "guest.sh: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; kill $(jobs -p) 2>/dev/null || true' EXIT
pack() { (cd "$1" && find . | cpio -o -H newc --quiet) | gzip -1; }

# The guest's kernel package as the archive names it now: NAME VERSION.
kernel_package() {
  local arch=$1 name
  name=$(apt-cache depends "linux-image-$arch:$arch" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n 1)
  [ -n "$name" ] && echo "$name $(apt-cache show "$name:$arch" 2>/dev/null | sed -n 's/^Version: //p' | head -n 1)"
}

# Which chip a driver module is for, where a failure should name it.
family_of() {
  case $1 in
    ch341) echo ": the CH340's driver" ;; cp210x) echo ": the CP2102's driver" ;; pl2303) echo ": the PL2303's driver" ;;
    usb_f_fs) echo ": FunctionFS, which plays the CH340, the CP2102 and the PL2303" ;;
  esac
}

fetch() {
  local arch=$1 cache=$2 kernel version dir module found
  # The CDC-ACM adapter is the kernel's own USB gadget (g_serial, its device side
  # /dev/ttyGS0) on the virtual controller dummy_hcd, seen by cdc-acm; usbmon watches. The
  # CH340, CP2102 and PL2303 are user-space chips on FunctionFS (usb_f_fs), each on its own
  # virtual controller, taken by their own drivers.
  local modules="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio udc-core dummy_hcd configfs libcomposite
    u_serial usb_f_acm g_serial cdc-acm usbmon usb_f_fs ch341 cp210x pl2303"
  case $arch in
    amd64) modules+=" virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_console" ;;
    arm64) modules+=" virtio_mmio virtio_console" ;;
  esac
  # The list is read whole before it is searched: a search that stops at its first match
  # must not fail the pipe. An index of the archive that fails to refresh (a mirror caught
  # mid-sync) is no reason to stop; the kernel's lookup below says if it was needed.
  local foreign
  foreign=$(dpkg --print-foreign-architectures)
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! grep -qx "$arch" <<<"$foreign"; then
    dpkg --add-architecture "$arch" >&2 || fail "cannot add $arch to dpkg's architectures"
    apt-get update -qq >&2 || echo "guest.sh: apt-get update failed for some index; going on with what it fetched" >&2
  fi
  # apt's answer changes only with its lists, and takes seconds to get: it is kept in the
  # cache with the time the lists last changed, and asked again when they have.
  local lookup=$cache/$arch/lookup seen lists
  lists=$(stat -c %Y /var/lib/apt/lists)
  if ! { [ -s "$lookup" ] && read -r seen kernel version <"$lookup" && [ "$seen" = "$lists" ]; }; then
    read -r kernel version < <(kernel_package "$arch") ||
      { apt-get update -qq >&2; read -r kernel version < <(kernel_package "$arch"); } ||
      fail "apt knows no linux-image-$arch:$arch to take the guest's kernel from"
  fi
  # Keyed on what it holds: a new kernel build or module list makes a new one.
  dir=$cache/$arch/$kernel-${version//[:~]/_}-$(echo "$modules" | cksum | cut -d ' ' -f 1)
  if [ ! -s "$dir/base.cpio.gz" ]; then
    # Lists older than the archive name a build it has dropped: refresh them once.
    download() { (cd "$scratch" && apt-get download -qq -o APT::Sandbox::User=root "$kernel:$arch=$version" "busybox-static:$arch") >&2; }
    download || { apt-get update -qq >&2 && read -r kernel version < <(kernel_package "$arch") && download; } ||
      fail "could not fetch $kernel and busybox-static:$arch from Debian's archive"
    dir=$cache/$arch/$kernel-${version//[:~]/_}-$(echo "$modules" | cksum | cut -d ' ' -f 1)
    for deb in "$scratch"/*.deb; do dpkg-deb -x "$deb" "$scratch/debs"; done
    mkdir -p "$scratch"/base/{bin,modules,dev,proc,sys}
    # Debian 13 keeps busybox in /usr/bin and the modules in /usr/lib, compressed.
    cp "$(find "$scratch/debs/bin" "$scratch/debs/usr/bin" -name busybox -type f 2>/dev/null | head -n 1)" \
      "$scratch/base/bin/busybox" || fail "no busybox in busybox-static:$arch"
    ln -s busybox "$scratch/base/bin/sh"
    local tree order=""
    tree=$(find "$scratch/debs" -path '*/lib/modules/*' -name modules.order -printf '%h\n' | head -n 1)
    [ -n "$tree" ] || fail "no modules in $kernel"
    for module in $modules; do
      found=$(find "$tree" -name "$module.ko*" | head -n 1)
      if [ -z "$found" ]; then
        # Built into this kernel: nothing to load.
        grep -q "/${module//[-_]/[-_]}\.ko\$" "$tree/modules.builtin" || fail "no $module in $kernel$(family_of "$module")"
        continue
      fi
      case $found in
        *.ko) cp "$found" "$scratch/base/modules/$module.ko" ;;
        *.ko.xz) xz -dc "$found" >"$scratch/base/modules/$module.ko" ;;
        *.ko.zst) zstd -qdc "$found" >"$scratch/base/modules/$module.ko" ;;
        *) fail "cannot unpack $found" ;;
      esac || fail "cannot unpack $found"
      order+=" $module"
    done
    echo "$order" >"$scratch/base/modules/order"
    mkdir -p "$dir"
    cp "$scratch"/debs/boot/vmlinuz-* "$dir/vmlinuz"
    pack "$scratch/base" >"$dir/part" && mv "$dir/part" "$dir/base.cpio.gz"
    # Only the build in use is kept.
    find "$cache/$arch" -mindepth 1 -maxdepth 1 ! -path "$dir" ! -path "$lookup" -exec rm -rf {} +
  fi
  echo "$(stat -c %Y /var/lib/apt/lists) $kernel $version" >"$lookup"
  echo "$dir"
}

boot() {
  local arch=$1 dir=$2 cache=$3 sim=$4 guest_files qemu ports port path line at status took done=no cases=() offsets=()
  local wiring=()
  guest_files=$(fetch "$arch" "$cache")
  case $arch in
    amd64) qemu=(qemu-system-x86_64 -device virtio-serial-pci) ports="ttyUSB0 ttyS1 ttyACM0" ;;
    arm64) qemu=(qemu-system-aarch64 -M virt -cpu cortex-a57 -device virtio-serial-device) ports="ttyUSB0 ttyS0 ttyAMA0 ttyACM0" ;;
  esac
  rm -rf "$dir/run" && mkdir "$dir/run" && cd "$dir/run" && mkfifo control.in control.out
  for port in ${ports% ttyACM0}; do
    "$sim" --ignore-first 1 >"sim-$port.log" &
    for _ in $(seq 100); do [ -s "sim-$port.log" ] && break; sleep 0.05; done
    path=$(head -n 1 "sim-$port.log") && [ -n "$path" ] || fail "the stand-in device for $port did not start"
    wiring+=(-chardev "serial,id=$port,path=$path")
    case $port in
      ttyUSB0) wiring+=(-device qemu-xhci -device "usb-serial,chardev=$port") ;;
      ttyS1) wiring+=(-device "isa-serial,index=1,chardev=$port") ;;
      ttyS0) wiring+=(-device "pci-serial,chardev=$port") ;;
      ttyAMA0) wiring+=(-serial "chardev:$port") ;;
    esac
  done
  cat "$guest_files/base.cpio.gz" "$dir/tool.cpio.gz" >initrd
  # qemu's end, or its failure to start, is said on the control pipe too, so that the wait
  # for the guest's next line ends with it.
  (
    status=0
    timeout 120 "${qemu[@]}" -nodefaults -nographic -no-reboot -m 256 -accel tcg -kernel "$guest_files/vmlinuz" \
      -initrd initrd \
      -append "rdinit=/init console=hvc0 panic=-1 devices=${ports// /,} chips=ch340,cp2102,pl2303" \
      -chardev file,id=console,path=console.log -device virtconsole,chardev=console \
      -chardev pipe,id=control,path=control -device virtconsole,chardev=control "${wiring[@]}" \
      -D trace -trace 'usb_serial_*' -trace usb_xhci_xfer_start -trace serial_update_parameters \
      -trace serial_write -trace pl011_write -trace pl011_baudrate_change || status=$?
    echo "@@ qemu ended" >control.out
    exit $status
  ) &
  local guest=$!
  # Opened both ways, the pipes never block, whether qemu opens its ends or not.
  exec 3<>control.out 4<>control.in
  while IFS= read -r -t 60 line <&3; do
    case $line in
      "@@ qemu ended") break ;;
      "@@ ready "*) at=${line#@@ ready } && at=${at/ /-} && cases+=("$at") && offsets+=("$(stat -c %s trace)") &&
        : >"$at.usbmon" && echo go >&4 ;;
      "@@ case exit "*) read -r _ _ _ status took <<<"$line" && echo "$status" >"$at.exit" && echo "$took" >"$at.ms" &&
        : >"$at.out" && : >"$at.err" ;;
      "@@ err "*) printf '%s\n' "${line#@@ err }" >>"$at.err" ;;
      "@@ usb "*) printf '%s\n' "${line#@@ usb }" >>"$at.usbmon" ;;
      "@@ pull "*) printf '%s\n' "${line#@@ pull }" >"$at.pull" ;;
      "@@ reopen "*) printf '%s\n' "${line#@@ reopen }" >"$at.reopen" ;;
      "@@ chip "*) printf '%s\n' "${line#@@ chip }" >>"$at.chip" ;;
      "@@ port "* | "@@ fault "*) read -r _ kind label text <<<"$line" && printf '%s\n' "$text" >"$label.$kind" ;;
      "@@ sim "*) read -r _ _ label text <<<"$line" && printf '%s\n' "$text" >>"sim-$label.log" ;;
      "@@ done") done=yes && break ;;
      *) printf '%s\n' "$line" >>"$at.out" ;;
    esac
  done
  wait "$guest" || fail "qemu ended with status $? (see $PWD/console.log)"
  [ $done = yes ] || fail "the guest stopped before its last case (see $PWD/console.log)"
  offsets+=("$(stat -c %s trace)")
  for i in "${!cases[@]}"; do
    head -c "${offsets[i + 1]}" trace | tail -c +$((offsets[i] + 1)) >"${cases[i]}.trace"
  done
}

case ${1:-} in
  fetch) fetch "$2" "$3" ;;
  pack) mkdir "$scratch/pack" && cp "${@:3}" "$scratch/pack/" && pack "$scratch/pack" >"$2" ;;
  boot) boot "$2" "$3" "$4" "$5" ;;
  *) fail "usage: guest.sh fetch ARCH CACHE | pack OUT FILE... | boot ARCH DIR CACHE SIM" ;;
esac
