# Shell functions for scripts run in the kernel rig's guest (busybox sh): `. /rig/lib.sh`.
# A stick is named as in the trace: "reader 0", "foreign C". Every wait is bounded; a function
# that runs out of time says so on standard error and returns 1.

RIG_TAB=$(printf '\t')

# The field (1 device name, 2 gadget, 3 controller, 4 serial, 5 LUNs, 6 plugged|pulled) of a
# stick's line in $STICK_READY.
rig_field() {
    awk -F "$RIG_TAB" -v name="$1" -v field="$2" '$1 == name { print $field }' "$STICK_READY"
}

# The sticks' names, one a line.
rig_sticks() { cut -f1 "$STICK_READY"; }

# The host side of a stick: its USB device's sysfs folder (there while it is plugged in).
rig_usb_dir() {
    local controller
    controller=$(rig_field "$1" 3)
    for dir in /sys/devices/platform/dummy_hcd."${controller##*.}"/usb*/*-1; do
        [ -d "$dir" ] && echo "$dir"
    done
}

# The SCSI device folder of a stick's unit (LUN, default 0).
rig_scsi_dir() {
    local usb
    usb=$(rig_usb_dir "$1")
    [ -n "$usb" ] || return 1
    for dir in "$usb"/*:1.0/host*/target*/*:*:*:"${2:-0}"; do
        [ -d "$dir" ] && echo "$dir"
    done
}

# /dev/sgN and /dev/sdX of a stick's unit (LUN, default 0).
rig_sg() {
    local dir
    dir=$(rig_scsi_dir "$1" "$2") || return 1
    for node in "$dir"/scsi_generic/sg*; do [ -e "$node" ] && echo "/dev/${node##*/}"; done
}
rig_sd() {
    local dir
    dir=$(rig_scsi_dir "$1" "$2") || return 1
    for node in "$dir"/block/sd*; do [ -e "$node" ] && echo "/dev/${node##*/}"; done
}

# Waits up to SECONDS for CONDITION (a command) to hold.
rig_wait() {
    local seconds=$1 what=$2
    shift 2
    local tries=$((seconds * 50))
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        if [ "$tries" -le 0 ]; then
            echo "kernel-rig: gave up waiting for $what" >&2
            return 1
        fi
        usleep 20000
    done
}

# Whether the kernel has announced every unit of a stick as a disk: sd announces one after it
# has read its capacity and looked for partitions, the last of what it sends on its own.
rig_attached() {
    local lun=0 luns sd
    luns=$(rig_field "$1" 5)
    while [ "$lun" -lt "$luns" ]; do
        sd=$(rig_sd "$1" "$lun") || return 1
        [ -n "$sd" ] && grep -q "^add block disk ${sd#/dev/}\$" /run/rig/uevents || return 1
        [ -e "$(rig_sg "$1" "$lun")" ] || return 1
        lun=$((lun + 1))
    done
}

rig_gone() { [ -z "$(rig_usb_dir "$1")" ]; }

rig_wait_attached() { rig_wait "${2:-30}" "$1 to be attached" rig_attached "$1"; }

# The control name of a reader ("reader 3" -> "3").
rig_control_name() { echo "${1#reader }"; }

# Pulls a stick (a real pull: its gadget leaves the bus) and waits until the host has let go.
rig_unplug() {
    local file
    file="$STICK_CONTROL/unplug-$(rig_control_name "$1")"
    : > "$file"
    rig_wait 10 "the pull of $1" test ! -e "$file" && rig_wait 10 "$1 to go" rig_gone "$1"
}

# Plugs a stick back in and waits until the kernel has attached it again.
rig_replug() {
    local file
    file="$STICK_CONTROL/replug-$(rig_control_name "$1")"
    : > "$file"
    rig_wait 10 "the plug of $1" test ! -e "$file" && rig_wait_attached "$1"
}

# Every stick that starts plugged in, attached (up to SECONDS).
rig_wait_ready() {
    rig_wait "$1" "the sticks' program" test -s "$STICK_READY" || return 1
    rig_sticks | while IFS= read -r stick; do
        [ "$(rig_field "$stick" 6)" = plugged ] || continue
        rig_wait_attached "$stick" "$1" || return 1
    done
}

# The number of lines the stick trace has now: a mark to take the lines after it from.
rig_trace_mark() { wc -l < "$STICK_TRACE"; }

# The trace's command lines after MARK, of the stick named (all sticks when none is).
rig_trace_since() {
    tail -n +"$(($1 + 1))" "$STICK_TRACE" | grep -E '^[^:]+: ([0-9A-F]{2} ){12}(in|out|none) ' |
        if [ -n "$2" ]; then grep "^$2\( lun [0-9]*\)\?: "; else cat; fi
}
