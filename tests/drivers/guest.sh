#!/usr/bin/env bash
# The host's side of the drivers leg: a Linux guest under qemu (TCG) that runs velmoran on
# its own serial drivers, each port wired to a stand-in device on this machine.
#   guest.sh fetch ARCH CACHE   Debian's kernel and busybox for ARCH (amd64, arm64), once:
#                               CACHE/ARCH/vmlinuz, and base.cpio.gz with busybox and the
#                               modules for the FT232 and the virtio console
#   guest.sh pack OUT FILE...   an initramfs part holding each FILE at /
#   guest.sh boot ARCH DIR CACHE SIM
#                               boots ARCH with DIR/tool.cpio.gz over its base; writes each
#                               case's .exit, .out and .trace (its stretch of qemu's trace) to
#                               DIR/run, beside each stand-in's sim-PORT.log and console.log
set -euo pipefail
fail() { echo "guest.sh: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"; kill $(jobs -p) 2>/dev/null || true' EXIT
pack() { (cd "$1" && find . | cpio -o -H newc --quiet) | gzip -1; }

fetch() {
  local arch=$1 dir=$2/$1 kernel module
  local modules="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio"
  [ -s "$dir/base.cpio.gz" ] && return 0
  case $arch in
    amd64) modules+=" virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_console" ;;
    arm64) modules+=" virtio_mmio virtio_console" ;;
  esac
  if [ "$arch" != "$(dpkg --print-architecture)" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    { dpkg --add-architecture "$arch" && apt-get update -qq; } || fail "cannot add $arch to dpkg's architectures"
  fi
  kernel() { apt-cache depends "linux-image-$arch:$arch" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p'; }
  kernel=$(kernel)
  [ -n "$kernel" ] || { apt-get update -qq && kernel=$(kernel) && [ -n "$kernel" ]; } ||
    fail "apt knows no linux-image-$arch:$arch to take the guest's kernel from"
  (cd "$scratch" && apt-get download -qq -o APT::Sandbox::User=root "$kernel:$arch" "busybox-static:$arch") ||
    fail "could not fetch $kernel and busybox-static:$arch from Debian's archive"
  for deb in "$scratch"/*.deb; do dpkg-deb -x "$deb" "$scratch/debs"; done
  mkdir -p "$scratch"/base/{bin,modules,dev,proc,sys} "$dir"
  cp "$scratch/debs/bin/busybox" "$scratch/base/bin/" && ln -s busybox "$scratch/base/bin/sh"
  for module in $modules; do
    cp "$(find "$scratch/debs/lib/modules" -name "$module.ko")" "$scratch/base/modules/" || fail "no $module in $kernel"
  done
  echo "$modules" >"$scratch/base/modules/order"
  cp "$scratch"/debs/boot/vmlinuz-* "$dir/vmlinuz"
  pack "$scratch/base" >"$dir/part" && mv "$dir/part" "$dir/base.cpio.gz"
}

boot() {
  local arch=$1 dir=$2 cache=$3 sim=$4 qemu ports port path line at done=no cases=() offsets=() wiring=()
  fetch "$arch" "$cache"
  case $arch in
    amd64) qemu=(qemu-system-x86_64 -device virtio-serial-pci) ports="ttyUSB0 ttyS1" ;;
    arm64) qemu=(qemu-system-aarch64 -M virt -cpu cortex-a57 -device virtio-serial-device) ports="ttyUSB0 ttyS0 ttyAMA0" ;;
  esac
  rm -rf "$dir/run" && mkdir "$dir/run" && cd "$dir/run" && mkfifo control.in control.out
  for port in $ports; do
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
  cat "$cache/$arch/base.cpio.gz" "$dir/tool.cpio.gz" >initrd
  timeout 120 "${qemu[@]}" -nodefaults -nographic -no-reboot -m 256 -accel tcg -kernel "$cache/$arch/vmlinuz" \
    -initrd initrd \
    -append "rdinit=/init console=hvc0 panic=-1 devices=${ports// /,}" \
    -chardev file,id=console,path=console.log -device virtconsole,chardev=console \
    -chardev pipe,id=control,path=control -device virtconsole,chardev=control "${wiring[@]}" \
    -D trace -trace 'usb_serial_*' -trace usb_xhci_xfer_start -trace serial_update_parameters \
    -trace serial_write -trace pl011_write -trace pl011_baudrate_change &
  local guest=$!
  exec 3<control.out 4>control.in
  while IFS= read -r -t 60 line <&3; do
    case $line in
      "@@ ready "*) at=${line#@@ ready } && at=${at/ /-} && cases+=("$at") && offsets+=("$(stat -c %s trace)") && echo go >&4 ;;
      "@@ case exit "*) echo "${line##* }" >"$at.exit" && : >"$at.out" ;;
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
