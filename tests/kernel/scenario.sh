# What the kernel rig's scenario scripts share (busybox sh in the guest; `. $IN/scenario.sh`).
#
# A scenario writes its verdict to $OUT/results/NAME, read on the host by tests/kernel/result.sh:
#   pass    every check held
#   fault   every check held but one that a known fault of the program breaks (named there)
#   fail    a check did not hold
# followed by the scenario's time and what went wrong. The sticks are judged by what they
# received: the stick program's trace.
. /rig/lib.sh
mkdir -p "$OUT/results"

uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }

scenario() {
    SC_NAME=$1
    SC_START=$(uptime_ms)
    SC_PROBLEMS=$OUT/results/$1.problems
    SC_FAULT=""
    : > "$SC_PROBLEMS"
    echo "== scenario $1"
}

problem() {
    echo "$*" >> "$SC_PROBLEMS"
    echo "  PROBLEM: $*"
}

# expect WHAT COMMAND...: a check; WHAT says what should hold.
expect() {
    local what=$1
    shift
    "$@" || problem "$what"
}

# known_fault WHAT COMMAND...: a check that a known fault of the program breaks; when it does
# not hold, the scenario shows that fault instead of failing.
known_fault() {
    local what=$1
    shift
    if ! "$@"; then
        SC_FAULT=$what
        echo "  KNOWN FAULT SHOWN: $what"
    fi
}

scenario_end() {
    local ms verdict=pass
    ms=$(($(uptime_ms) - SC_START))
    [ -n "$SC_FAULT" ] && verdict=fault
    [ -s "$SC_PROBLEMS" ] && verdict=fail
    {
        echo "$verdict"
        printf 'seconds: %d.%02d\n' $((ms / 1000)) $((ms % 1000 / 10))
        [ -n "$SC_FAULT" ] && echo "known fault: $SC_FAULT"
        cat "$SC_PROBLEMS"
    } > "$OUT/results/$SC_NAME"
    rm -f "$SC_PROBLEMS"
    echo "== $SC_NAME: $verdict ($((ms / 1000)) s)"
}

# The part of a trace line after the device: "E8 20 ... in 528 good".
command_part() { sed 's/^[^:]*: //'; }

# count_ops OPCODE FILE: how many command lines of FILE carry the opcode.
count_ops() { grep -c ": $1 " "$2"; }

# Waits (up to SECONDS) until the stick trace holds COUNT lines with OPCODE after MARK.
wait_ops() {
    local mark=$1 op=$2 count=$3 seconds=$4
    rig_wait "$seconds" "$count commands $op" sh -c \
        "[ \$(tail -n +$((mark + 1)) \"\$STICK_TRACE\" | grep -c ': $op ') -ge $count ]"
}

# The commands the kernel sends a stick of its own accord: TEST UNIT READY, MODE SENSE, PREVENT
# ALLOW, READ CAPACITY, READ(10), the START UNIT of the disk driver bound to a stick the format
# stopped, and the 36-byte INQUIRY of a stick that comes (back) in; the program asks 56 bytes.
KERNEL_OWN='^(00|1A|1E|25|28|1B 0[01] 00 00 01|12 00 00 00 24) '

# matches_record STICK_LINES PROGRAM_RECORD: the stick received exactly the commands the
# program's record says it sent, in order and each once; usb-storage's REQUEST SENSE after a
# failed command and commands of the kernel's own (KERNEL_OWN, listed in $1.kernel with their
# line numbers in $1) aside. The program's time-out is the stick's hung command.
# Says what differs.
matches_record() {
    : > "$1.kernel"
    awk -v kernelFile="$1.kernel" -v own="$KERNEL_OWN" '
        function part(line) { sub(/^[^:]*: /, "", line); sub(/ timed-out$/, " hung", line); return line }
        function kernel_own(line) { return line ~ own }
        FILENAME == ARGV[1] { record[++n] = part($0); next }
        {
            line = part($0)
            if (i < n && line == record[i + 1]) { ++i; last = line; next }
            if (line ~ /^03 00 00 00 12 / && last ~ / check-condition$/) { last = line; next }
            if (kernel_own(line)) { print FNR ": " line > kernelFile; last = line; next }
            printf "the stick received \"%s\" where the record has \"%s\"\n", line, record[i + 1]
            bad = 1; exit
        }
        END {
            if (!bad && i < n) { printf "the record has \"%s\" that the stick never got\n", record[i + 1]; bad = 1 }
            exit bad
        }' "$2" "$1"
}

# kernel_during_run STICK_LINES PROGRAM_RECORD: the kernel's own commands (as matches_record
# names them) the stick received between the second command of the program's record (the first
# after the look at who it is, and after the stick was claimed) and the last one.
kernel_during_run() {
    awk -v own="$KERNEL_OWN" '
        function part(line) { sub(/^[^:]*: /, "", line); sub(/ timed-out$/, " hung", line); return line }
        function kernel_own(line) { return line ~ own }
        FILENAME == ARGV[1] { record[++n] = part($0); next }
        {
            line = part($0)
            if (i < n && line == record[i + 1]) { ++i; next }
            if (i >= 2 && i < n && kernel_own(line)) print line
        }' "$2" "$1"
}

# The stick's lines FILE without the kernel's own commands that matches_record listed in
# FILE.kernel, by their places (the kernel may send what the program sends too, as READ(10) of
# sector 0): what a comparison with --simulate's trace is about.
without_kernel() {
    awk 'FILENAME == ARGV[1] { drop[$1 + 0] = 1; next } !(FNR in drop)' "$1.kernel" "$1"
}

# Bank 0's pages FIRST to FIRST+COUNT-1 of the stick at NODE, read by SG_IO through sg_raw
# (E8h; the stick's pages per block in hex, 20 unless PPB says), one after the other into FILE.
read_pages() {
    local node=$1 first=$2 count=$3 file=$4 ppb=${5:-20} page
    : > "$file"
    sg_raw "$node" FB 00 00 00 00 00 00 00 00 00 00 00 2>/dev/null || return 1
    page=$first
    while [ "$page" -lt $((first + count)) ]; do
        sg_raw -r 528 -o "$file.page" "$node" E8 "$ppb" $(printf '%02X %02X %02X' $((page & 255)) \
            $((page >> 8 & 255)) $((page >> 16 & 255))) 01 00 00 00 00 00 00 2>/dev/null || return 1
        cat "$file.page" >> "$file"
        page=$((page + 1))
    done
    rm -f "$file.page"
}

# The sorted bad blocks of a report ("block": N lines of bank 0 and on).
bad_blocks() { grep -o '"block": [0-9]*' "$1" | awk '{ print $2 }' | tr '\n' ' '; }
report_field() { sed -n "s/^  \"$2\": \\(.*\\),\$/\\1/p" "$1" | tr -d '"'; }

# The kernel's view after a re-plug: the capacity the report gives, a FAT volume that mounts,
# takes a file and gives it back, and that fsck.fat finds clean.
kernel_view_agrees() {
    local stick=$1 report=$2 sd size want
    sd=$(rig_sd "$stick")
    size=$(cat "/sys/block/${sd#/dev/}/size")
    want=$(report_field "$report" capacity_after_sectors)
    expect "the kernel sees $size sectors, the report says $want" [ "$size" = "$want" ]
    mkdir -p /mnt/stick
    if mount -t vfat "$sd" /mnt/stick; then
        echo "written in the guest $SC_NAME" > /mnt/stick/HELLO.TXT
        umount /mnt/stick
        if mount -t vfat "$sd" /mnt/stick; then
            expect "the file written reads back" grep -q "written in the guest $SC_NAME" /mnt/stick/HELLO.TXT
            umount /mnt/stick
        else
            problem "the volume does not mount a second time"
        fi
    else
        problem "mount -t vfat $sd fails"
    fi
    expect "fsck.fat -n finds $sd clean" fsck.fat -n "$sd" > "$OUT/$SC_NAME.fsck.txt" 2>&1
}
