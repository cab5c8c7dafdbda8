#!/bin/busybox sh
# The kernel rig's /init inside the guest (busybox sh): loads the modules, plugs in the sticks of
# the machine description, runs the caller's script and hands its status back on the console.
# What the script finds is described in scripts/kernel-rig.sh.
/bin/busybox --install -s /bin
export PATH=/usr/local/bin:/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Pseudo-terminals, for a program that is to run on a terminal (tests/kernel/pty_guest.cpp).
mkdir -p /dev/pts
mount -t devpts -o ptmxmode=0666 devpts /dev/pts
[ -e /dev/ptmx ] || ln -s pts/ptmx /dev/ptmx
mkdir -p /run /tmp /out
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
. /rig/settings.sh

say() { echo "kernel-rig: $*"; }
finish() {
    echo "BREVANT-RIG-STATUS: $1"
    sync
    umount /out 2>/dev/null
    poweroff -f
}

# Every kernel event, for the waits of /rig/lib.sh: "ACTION SUBSYSTEM DEVTYPE DEVNAME".
mkdir -p /run/rig
uevent sh -c 'echo "$ACTION $SUBSYSTEM $DEVTYPE $DEVNAME" >> /run/rig/uevents' &

# The modules, in the order of their dependencies. usb-storage looks at a new stick at once
# (delay_use=0); dummy_hcd gives one device-side controller per stick.
while read -r module; do
    case "$module" in
        dummy_hcd.ko) insmod "/lib/modules/$module" "num=$RIG_CONTROLLERS" ;;
        usb-storage.ko) insmod "/lib/modules/$module" delay_use=0 ;;
        *) insmod "/lib/modules/$module" 2>/dev/null ;;  # a CPU without the instructions of an accelerated variant
    esac
done < /rig/modules.list
mount -t configfs configfs /sys/kernel/config
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 out /out; then
    say "cannot mount the output folder"
    finish 125
fi

export IN=/in OUT=/out MACHINE="/in/$RIG_MACHINE_NAME"
export STICK_TRACE=/run/rig/sticks.trace STICK_CONTROL=/run/rig/control STICK_READY=/run/rig/sticks.ready
mkdir -p "$STICK_CONTROL"
brevant-usb-stick --machine "$MACHINE" --trace "$STICK_TRACE" --control "$STICK_CONTROL" \
    --ready "$STICK_READY" 2>/run/rig/sticks.err &
STICK_PID=$!
export STICK_PID
. /rig/lib.sh
if ! rig_wait_ready 60; then
    say "the sticks did not come up"
    cat /run/rig/sticks.err
    dmesg | tail -40
    finish 125
fi

say "the sticks are in after $(cut -d' ' -f1 /proc/uptime) s of the guest's uptime"
cd /out
sh "/in/$RIG_SCRIPT_NAME"
status=$?

kill -TERM "$STICK_PID" 2>/dev/null
wait "$STICK_PID"
cp "$STICK_TRACE" /out/sticks.trace 2>/dev/null
cp /run/rig/sticks.err /out/sticks.err 2>/dev/null
dmesg > /out/dmesg.txt
finish "$status"
