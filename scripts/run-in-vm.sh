#!/usr/bin/env bash
# Runs a command under another kernel: Debian's own amd64 kernel, booted in a
# qemu-system-x86_64 virtual machine that sees this machine's root file system
# read-only, so the same programs and paths are there. For what this machine's
# kernel cannot run (i386 programs on a kernel built without 32-bit support).
#   bash scripts/run-in-vm.sh [--share DIR]... [--env NAME=VALUE]... [--timeout SECONDS]
#                             -- COMMAND [ARG]...
# --share DIR    DIR (repeatable) is writable inside the machine, at the same path
# --env          sets a variable for COMMAND (its environment is otherwise only PATH,
#                HOME=/tmp, LANG and TERM)
# --timeout      stops the machine after SECONDS (default 1800) and fails
# COMMAND runs as root in the current directory; its output is printed, and its exit
# status is this script's. /tmp, /run and /dev/shm are empty tmpfs folders. On a
# failure of the machine itself (no status from COMMAND) the console log is printed
# and the status is 125; a timeout prints it too and returns 124. A boot that does
# not reach COMMAND in 300 s is stopped and made once more.
#
# Prepared once under build/vm/ (kept; delete the folder to redo): the kernel and the
# modules it needs for 9p and overlay, from the package linux-image-amd64 depends on
# (apt-get download, dpkg -x; never installed), and a busybox initramfs. Needs the
# install-deps group "vm" (qemu-system-x86, busybox-static). Exits 77 with
# "SKIPPED: ..." when those packages or the kernel cannot be had.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."
root=$PWD
source scripts/require.sh

shares=()
envs=()
limit=1800
while [ $# -gt 0 ]; do
  case "$1" in
    --share) shares+=("$(realpath "$2")"); shift 2 ;;
    --env) envs+=("$2"); shift 2 ;;
    --timeout) limit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: run-in-vm.sh [--share DIR]... [--env NAME=VALUE]... [--timeout S] -- COMMAND..." >&2
       exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "run-in-vm: no command given" >&2; exit 2; }

require --for "running under another kernel" vm
vm=$root/build/vm
mkdir -p "$vm"

# Paths go to the machine on the kernel command line and in mount options.
for dir in "$here" "$vm" "${shares[@]}"; do
  [[ "$dir" =~ ^[A-Za-z0-9_./+-]+$ ]] ||
    { echo "run-in-vm: the path '$dir' has characters the machine's mounts cannot take" >&2; exit 2; }
done

# The modules the initramfs loads, in dependency order: virtio's PCI transport, 9p
# over it, and overlay. One left out here that the kernel has built in is skipped.
modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet
         9pnet_virtio netfs fscache 9p overlay)

# The kernel: vmlinuz and those modules, from Debian's package, unpacked in a scratch
# folder that is removed afterwards (the package unpacks to about 400 MB).
prepare_kernel() {
  [ -f "$vm/kernel/ready" ] && return 0
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null |
            awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  [ -n "$package" ] ||
    skip "running under another kernel needs Debian's kernel package: apt-cache names none for linux-image-amd64"
  echo "run-in-vm: downloading $package" >&2
  rm -rf "$vm/kernel" "$vm/unpack"
  mkdir -p "$vm/unpack" "$vm/kernel/modules"
  # apt's download sandbox user cannot write to a root-owned folder.
  (cd "$vm/unpack" && apt-get download -q -o APT::Sandbox::User=root "$package") \
    >"$vm/download.log" 2>&1 ||
    skip "running under another kernel needs Debian's kernel package $package, which did not download: $(grep -m1 '^E:' "$vm/download.log" || tail -n1 "$vm/download.log")"
  dpkg -x "$vm"/unpack/"$package"_*.deb "$vm/unpack/tree"
  local image release
  image=$(ls "$vm"/unpack/tree/boot/vmlinuz-* | head -n1)
  release=${image##*/vmlinuz-}
  cp "$image" "$vm/kernel/vmlinuz"
  local name file
  for name in "${modules[@]}"; do
    file=$(find "$vm/unpack/tree/lib/modules/$release" -name "$name.ko*" | head -n1)
    if [ -z "$file" ]; then
      grep -q "/$name.ko" "$vm/unpack/tree/lib/modules/$release/modules.builtin" ||
        { echo "run-in-vm: $package has no module $name" >&2; exit 1; }
      continue
    fi
    case "$file" in
      *.ko.xz) xz -dc "$file" >"$vm/kernel/modules/$name.ko" ;;
      *.ko.zst) zstd -qdc "$file" >"$vm/kernel/modules/$name.ko" ;;
      *.ko) cp "$file" "$vm/kernel/modules/$name.ko" ;;
    esac
  done
  echo "$package $release" >"$vm/kernel/ready"
  rm -rf "$vm/unpack"
}

# The initramfs: busybox, the modules and an /init that mounts this machine's root
# over 9p read-only, the run folder (given as velnor.run= on the command line)
# writable at its own path, moves /proc, /sys and /dev there and hands over to the
# run folder's guest.sh, written for each run.
prepare_initramfs() {
  [ -f "$vm/initramfs.cpio.gz" ] && [ "$vm/initramfs.cpio.gz" -nt "$vm/kernel/ready" ] &&
    [ "$vm/initramfs.cpio.gz" -nt "$0" ] && return 0
  local tree=$vm/initramfs
  rm -rf "$tree"
  mkdir -p "$tree"/{bin,dev,proc,sys,newroot,modules}
  cp /bin/busybox "$tree/bin/busybox"
  local name
  for name in "${modules[@]}"; do
    [ -f "$vm/kernel/modules/$name.ko" ] && cp "$vm/kernel/modules/$name.ko" "$tree/modules/"
  done
  {
    echo '#!/bin/busybox sh'
    echo 'set -e'
    echo '/bin/busybox --install -s /bin'
    echo 'mount -t proc proc /proc; mount -t sysfs sysfs /sys; mount -t devtmpfs devtmpfs /dev'
    echo "for m in ${modules[*]}; do [ ! -f /modules/\$m.ko ] || insmod /modules/\$m.ko; done"
    echo 'opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose'
    echo 'run=$(sed -n "s/.*velnor\.run=\([^ ]*\).*/\1/p" /proc/cmdline)'
    echo 'mount -t 9p -o ro,$opts root /newroot'
    echo 'mount -t 9p -o $opts run /newroot$run'
    echo 'for d in proc sys dev; do mount --move /$d /newroot/$d; done'
    echo 'exec switch_root /newroot /bin/sh $run/guest.sh'
  } >"$tree/init"
  chmod +x "$tree/init"
  (cd "$tree" && find . | /bin/busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$vm/initramfs.cpio.gz.new"
  mv "$vm/initramfs.cpio.gz.new" "$vm/initramfs.cpio.gz"
  rm -rf "$tree"
}

prepare_kernel
prepare_initramfs

# The run folder: the guest's script, the command's output and status.
run=$vm/run
rm -rf "$run"
mkdir -p "$run"
{
  echo 'set -u'
  printf 'touch %q\n' "$run/started"
  echo 'opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose'
  echo 'mkdir -p /dev/shm'
  echo 'for d in /tmp /run /dev/shm; do mount -t tmpfs -o mode=1777 tmpfs $d; done'
  echo 'mkdir -p /dev/pts && mount -t devpts devpts /dev/pts'
  for i in "${!shares[@]}"; do
    printf 'mount -t 9p -o $opts share%d %q\n' "$i" "${shares[$i]}"
  done
  printf 'cd %q\n' "$here"
  printf 'export PATH=%q HOME=/tmp LANG=C.UTF-8 TERM=dumb\n' "$PATH"
  for e in "${envs[@]}"; do printf 'export %q\n' "$e"; done
  printf '( %s ) >%q 2>&1 </dev/null\n' "$(printf '%q ' "$@")" "$run/output.log"
  printf 'echo $? >%q\n' "$run/status"
  echo 'sync'
  echo 'echo o >/proc/sysrq-trigger'
  echo 'sleep 60'
} >"$run/guest.sh"

virtfs=(-virtfs "local,path=/,mount_tag=root,security_model=none,readonly=on,multidevs=remap"
        -virtfs "local,path=$run,mount_tag=run,security_model=none,multidevs=remap")
for i in "${!shares[@]}"; do
  virtfs+=(-virtfs "local,path=${shares[$i]},mount_tag=share$i,security_model=none,multidevs=remap")
done

# -smap off: with it, every 32-bit process is killed at its first iret under TCG.
# --foreground keeps qemu in this process group: stopping the caller stops it.
# The PS/2 controller's driver is left out: nothing uses it, and its probe is where
# one boot on a loaded machine stalled.
console=$vm/console.log
boot() {
  rm -f "$run/started" "$run/status" "$run/output.log"
  timeout --foreground -k 10 "$limit" qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
    -cpu max,-smap -smp 2 -m 4096 -display none -no-reboot -nodefaults -serial stdio \
    -kernel "$vm/kernel/vmlinuz" -initrd "$vm/initramfs.cpio.gz" \
    -append "console=ttyS0 panic=-1 initcall_blacklist=i8042_init velnor.run=$run" \
    "${virtfs[@]}" </dev/null >"$console" 2>&1 &
  local pid=$! start=$SECONDS
  # The first sign of the machine is the guest script's mark; a boot that gives none
  # in boot_limit seconds (10 to 20 are usual) has hung.
  while [ ! -f "$run/started" ] && kill -0 $pid 2>/dev/null &&
        [ $((SECONDS - start)) -lt $boot_limit ]; do
    sleep 1
  done
  if [ ! -f "$run/started" ] && kill -0 $pid 2>/dev/null; then
    kill $pid 2>/dev/null || true
    wait $pid || true
    machine_status=hung
    return
  fi
  machine_status=0
  wait $pid || machine_status=$?
}
boot_limit=300
echo "run-in-vm: booting $(cut -d' ' -f1 "$vm/kernel/ready") for: $*"
boot
if [ "$machine_status" = hung ]; then
  echo "run-in-vm: the machine did not reach the command in $boot_limit s; booting again." \
    "The end of its console:"
  tail -n 20 "$console"
  boot
fi

[ ! -f "$run/output.log" ] || cat "$run/output.log"
if [ "$machine_status" = hung ]; then
  echo "run-in-vm: the machine did not reach the command in $boot_limit s, twice; its console:"
  cat "$console"
  exit 124
fi
if [ "$machine_status" -eq 124 ] || [ "$machine_status" -eq 137 ]; then
  echo "run-in-vm: the machine was stopped after $limit s; its console:"
  cat "$console"
  exit 124
fi
if [ ! -f "$run/status" ]; then
  echo "run-in-vm: the command left no status (qemu exit $machine_status); the machine's console:"
  cat "$console"
  exit 125
fi
status=$(cat "$run/status")
if [ "$status" -ne 0 ]; then
  echo "run-in-vm: the command failed (exit $status); the machine's console:"
  cat "$console"
fi
exit "$status"
