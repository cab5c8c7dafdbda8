#!/usr/bin/env bash
# The kernel rig: runs a script on a real Linux kernel whose USB sticks are the sticks of a
# simulated machine, so that brevant meets SG_IO, sg, sd, usb-storage and sysfs as a user's
# machine has them, without a stick.
#
#   bash scripts/kernel-rig.sh --machine DESCRIPTION [--in FILE]... --out DIR [--timeout S] SCRIPT
#
# Boots Debian's stock kernel (the linux-image-amd64 package's, fetched with apt-get download
# and kept under build/kernel-rig) in QEMU with an initramfs of busybox, the kernel's modules,
# brevant and brevant-usb-stick (from build/native, or $BREVANT_RIG_BUILD). In the guest every
# reader and foreign drive of DESCRIPTION is a USB mass-storage stick (dummy_hcd, configfs,
# FunctionFS), plugged in before SCRIPT starts. SCRIPT runs under busybox sh in $OUT, with:
#   brevant, brevant-usb-stick, fsck.fat, sg_raw   on PATH
#   $IN/NAME        each --in FILE, SCRIPT and DESCRIPTION, by their names
#   $MACHINE        the description
#   $OUT            /out, writable: it is DIR on the host (a 9p share)
#   $STICK_TRACE    every command the sticks received, with its outcome (the simulator's trace
#                   format), and the sticks' USB events
#   $STICK_CONTROL  the sticks' control folder: files unplug-NAME, replug-NAME pull and plug a
#                   reader (NAME: its number, drive letter or node name)
#   $STICK_READY    a line per stick: name, gadget, controller, serial, LUNs, plugged|pulled
#   /rig/lib.sh     shell functions to find a stick's nodes, pull and plug it, read the trace
# Afterwards DIR also holds sticks.trace, dmesg.txt and console.log. The rig exits with SCRIPT's
# status, or 125 when the guest did not give one back (it did not boot, or ran out of time).
#
# TCG (plain emulation) by default; KVM only where a probe boot shows that it works.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
rig="$root/scripts/kernel-rig"
build="${BREVANT_RIG_BUILD:-$root/build/native}"
cache="$root/build/kernel-rig"

machine="" out="" script="" timeout=300
inputs=()
usage() {
    echo "usage: kernel-rig.sh --machine DESCRIPTION [--in FILE]... --out DIR [--timeout SECONDS] SCRIPT" >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --machine) machine="${2:-}"; shift 2 || usage ;;
        --in) inputs+=("${2:-}"); shift 2 || usage ;;
        --out) out="${2:-}"; shift 2 || usage ;;
        --timeout) timeout="${2:-}"; shift 2 || usage ;;
        -*) usage ;;
        *) [ -z "$script" ] || usage; script="$1"; shift ;;
    esac
done
[ -n "$machine" ] && [ -n "$out" ] && [ -n "$script" ] || usage
for file in "$machine" "$script" "${inputs[@]}"; do
    [ -f "$file" ] || { echo "kernel-rig: $file: no such file" >&2; exit 2; }
done
for program in brevant brevant-usb-stick; do
    [ -x "$build/$program" ] || { echo "kernel-rig: $build/$program is not built" >&2; exit 2; }
done
for tool in qemu-system-x86_64 busybox depmod modprobe cpio python3 objcopy fsck.fat sg_raw; do
    command -v "$tool" >/dev/null || { echo "kernel-rig: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 2; }
done
mkdir -p "$out" "$cache"
out="$(cd "$out" && pwd)"

# --- The kernel: Debian's stock image and its modules, fetched once ----------------------------
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package="$(kernel_package)"
if [ -z "$package" ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    package="$(kernel_package)"
fi
if [ -z "$package" ]; then  # no package lists to ask: the kernel fetched before will do
    package="$(ls -1 "$cache" | grep '^linux-image-' | sort -V | tail -1 || true)"
fi
[ -n "$package" ] || { echo "kernel-rig: cannot find Debian's kernel package" >&2; exit 2; }
kdir="$cache/$package"
version="${package#linux-image-}"
# Modules the rig loads (their dependencies come with them), and two that crc-t10dif and
# crc64-rocksoft only name as soft dependencies.
modules=(crct10dif_generic crc64_rocksoft_generic dummy_hcd libcomposite usb_f_fs usb-storage
         sd_mod sg vfat nls_cp437 nls_ascii 9p 9pnet_virtio virtio_pci)
# Rigs started side by side (ctest -j) take turns: the first fetches, the others wait for it.
exec 9>"$cache/fetch.lock"
flock 9
if [ ! -f "$kdir/base.cpio.gz" ]; then
    echo "kernel-rig: fetching $package"
    rm -rf "$kdir" && mkdir -p "$kdir/deb"
    # Package lists that have gone stale no longer find the file: one update, one more try.
    (cd "$kdir/deb" && { apt-get download "$package" >/dev/null 2>&1 ||
        { apt-get update -qq >/dev/null 2>&1; apt-get download "$package" >/dev/null 2>&1; }; }) ||
        { echo "kernel-rig: apt-get download $package failed" >&2; exit 2; }
    dpkg-deb -x "$kdir"/deb/*.deb "$kdir/root"
    python3 "$rig/extract-vmlinux.py" "$kdir/root/boot/vmlinuz-$version" "$kdir/vmlinux"
    depmod -b "$kdir/root" "$version"
    base="$kdir/base"
    mkdir -p "$base/bin" "$base/lib/modules" "$base/rig"
    cp "$(command -v busybox)" "$base/bin/busybox"
    for m in "${modules[@]}"; do
        modprobe -d "$kdir/root" -S "$version" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
    done | awk '!seen[$0]++' | while read -r path; do
        cp "$path" "$base/lib/modules/"
        basename "$path"
    done > "$base/rig/modules.list"
    (cd "$base" && find . | cpio -o -H newc --quiet | gzip -1) > "$kdir/base.cpio.gz.part"
    mv "$kdir/base.cpio.gz.part" "$kdir/base.cpio.gz"
    rm -rf "$kdir/deb" "$base"
fi
flock -u 9
exec 9>&-

# --- This run's part of the initramfs: the programs, the rig's scripts, the inputs ------------
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
stage="$work/stage"
mkdir -p "$stage/usr/local/bin" "$stage/rig" "$stage/in" "$stage/sbin" "$stage/proc" "$stage/sys" \
    "$stage/dev" "$stage/run" "$stage/tmp" "$stage/out"
copy_program() {  # a program and the shared libraries it needs, at their own paths
    local from=$1 to=$2
    objcopy --strip-debug "$from" "$stage$to"
    ldd "$from" | awk '/=> \// { print $3 } /^\t\/lib/ { print $1 }' | while read -r lib; do
        mkdir -p "$stage$(dirname "$lib")"
        [ -e "$stage$lib" ] || cp -L "$lib" "$stage$lib"
    done
}
copy_program "$build/brevant" /usr/local/bin/brevant
copy_program "$build/brevant-usb-stick" /usr/local/bin/brevant-usb-stick
copy_program "$(command -v fsck.fat)" /sbin/fsck.fat
copy_program "$(command -v sg_raw)" /sbin/sg_raw
for program in "$build"/*_guest; do  # programs built to run in the guest (benchmarks, helpers)
    [ -x "$program" ] && copy_program "$program" "/usr/local/bin/$(basename "$program")"
done
mkdir -p "$stage/lib64"
cp "$rig/guest-init.sh" "$stage/init"
cp "$rig/guest-lib.sh" "$stage/rig/lib.sh"
for file in "$machine" "$script" "${inputs[@]}"; do cp "$file" "$stage/in/"; done
controllers=$(grep -cE '^[[:space:]]*(reader|foreign)([[:space:]]|$)' "$machine" || true)
cat > "$stage/rig/settings.sh" <<EOF
RIG_CONTROLLERS=$((controllers > 0 ? controllers : 1))
RIG_MACHINE_NAME='$(basename "$machine")'
RIG_SCRIPT_NAME='$(basename "$script")'
EOF
chmod +x "$stage/init"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/run.cpio.gz"
cat "$kdir/base.cpio.gz" "$work/run.cpio.gz" > "$work/initrd"

# --- Boot -------------------------------------------------------------------------------------
qemu=(qemu-system-x86_64 -m 512 -smp 1 -nographic -nodefaults -no-reboot -serial stdio
      -kernel "$kdir/vmlinux" -initrd "$work/initrd"
      -append "console=ttyS0 quiet panic=-1 oops=panic")
accel=tcg
if [ -e /dev/kvm ]; then
    # A KVM that does not run guests is common under nested virtualisation: one short boot per
    # boot of this machine decides.
    probe="$cache/kvm-probe.$(cat /proc/sys/kernel/random/boot_id 2>/dev/null || echo unknown)"
    if [ ! -f "$probe" ]; then
        mkdir -p "$work/probe"
        printf '#!/bin/busybox sh\n/bin/busybox echo KVM-PROBE-OK\n/bin/busybox poweroff -f\n' > "$work/probe/init"
        chmod +x "$work/probe/init"
        mkdir -p "$work/probe/bin" && cp "$(command -v busybox)" "$work/probe/bin/busybox"
        (cd "$work/probe" && find . | cpio -o -H newc --quiet | gzip -1) > "$work/probe.cpio.gz"
        if timeout 30 qemu-system-x86_64 -accel kvm -cpu host -m 256 -nographic -nodefaults \
                -no-reboot -serial stdio -kernel "$kdir/vmlinux" -initrd "$work/probe.cpio.gz" \
                -append "console=ttyS0 quiet panic=-1" </dev/null 2>/dev/null | grep -q KVM-PROBE-OK; then
            echo kvm > "$probe"
        else
            echo tcg > "$probe"
        fi
    fi
    accel="$(cat "$probe")"
fi
if [ "$accel" = kvm ]; then qemu+=(-accel kvm -cpu host); else qemu+=(-accel tcg); fi
qemu+=(-virtfs "local,path=$out,mount_tag=out,security_model=none,id=out")

started=$(date +%s%N)
set +e
timeout "$timeout" "${qemu[@]}" </dev/null 2>&1 | tr -d '\r' | tee "$work/console.log"
set -e
cp "$work/console.log" "$out/console.log"
status="$(sed -n 's/^BREVANT-RIG-STATUS: \([0-9]*\)$/\1/p' "$work/console.log" | tail -1)"
elapsed=$((($(date +%s%N) - started) / 1000000))
printf 'kernel-rig: %s, %d.%03d s\n' "$accel" $((elapsed / 1000)) $((elapsed % 1000)) >&2
if [ -z "$status" ]; then
    echo "kernel-rig: the guest gave no status back (no boot, or over $timeout s)" >&2
    exit 125
fi
exit "$status"
