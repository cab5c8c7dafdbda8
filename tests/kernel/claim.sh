# Kernel scenarios of the Linux side (tests/kernel/claim.txt): a format kept from the rest of the
# machine (no mount, no exclusive open, no second brevant, none of the kernel's own commands
# during the run), with its disk driver taken off the stick or, where it cannot be, its disk
# held; a soft re-plug that shows the kernel the new size; a reset after a time-out; sense cut
# short; transfers split to the kernel's limit; and a stick that stops answering.
. "$IN/scenario.sh"
KEEP="reader 0"
SILENT="reader 1"
RESET="reader 2"
SMALL="reader 6"
HELD="reader 7"
REPLUG="reader 8"

# kept NAME STICK SERIAL HOW: a format of STICK during which the rest of the machine is kept off
# it, with the kernel polling its medium as a desktop has it do (every two seconds). HOW is
# "driver-off" (the disk driver taken off the stick for the run: the disk node is gone) or
# "held" (the driver cannot be taken off: the disk is held open exclusively and its polling
# turned off).
kept() {
    local name=$1 stick=$2 serial=$3 how=$4 sg sd disk opened during code
    sg=$(rig_sg "$stick")
    sd=$(rig_sd "$stick")
    disk=${sd#/dev/}
    echo 2000 > "/sys/block/$disk/events_poll_msecs"
    mark=$(rig_trace_mark)
    # The disk node named: the commands go through the generic node of the same device.
    brevant format -d "$sd" -y --backup-dir "/tmp/$name.backup" --report "$OUT/$name.json" \
        --trace "$OUT/$name.program.trace" > "$OUT/$name.txt" 2>&1 &
    run_pid=$!
    wait_ops "$mark" F2 50 60 || problem "the format did not get under way"
    mkdir -p "/mnt/$name"
    if mount -t vfat "$sd" "/mnt/$name" 2>"$OUT/$name.mount.txt"; then
        problem "$sd was mounted during the format"
        umount "/mnt/$name"
    fi
    opened=$(exclusive_open_guest "$sd")
    echo "figure: $how: during the run: mount -t vfat $sd: $(cat "$OUT/$name.mount.txt"); exclusive open of $sd: $opened"
    if [ "$how" = held ]; then
        expect "an exclusive open of $sd fails with EBUSY during the run (got $opened)" [ "$opened" = EBUSY ]
        expect "a mount of $sd fails as busy" grep -qi busy "$OUT/$name.mount.txt"
        expect "the kernel's media polling of $disk is off during the run" \
            [ "$(cat "/sys/block/$disk/events_poll_msecs")" = 0 ]
    else
        expect "an exclusive open of $sd fails during the run (got $opened)" [ "$opened" != opened ]
    fi
    brevant format -d "$sg" -y --backup-dir /tmp/second.backup > "$OUT/$name.second.txt" 2>&1
    code=$?
    cat "$OUT/$name.second.txt"
    expect "a second brevant on the stick ends with 4 (got $code)" [ "$code" = 4 ]
    expect "a second brevant names the stick as in use" \
        grep -q "$sg (serial $serial, USB port .*): in use by another program" "$OUT/$name.second.txt"
    brevant list > "$OUT/$name.list.txt" 2>&1
    expect "list names the stick as in use" grep -q "^$sg: in use by another program" "$OUT/$name.list.txt"
    wait "$run_pid"
    expect "the format ends with 0" [ $? = 0 ]
    tail -4 "$OUT/$name.txt"
    expect "the program's record names the generic node $sg" grep -q "^$sg: " "$OUT/$name.program.trace"
    rig_trace_since "$mark" "$stick" > "$OUT/$name.stick.trace"
    matches_record "$OUT/$name.stick.trace" "$OUT/$name.program.trace" > /tmp/diff ||
        problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
    kernel_during_run "$OUT/$name.stick.trace" "$OUT/$name.program.trace" > "$OUT/$name.kernel-during-run.txt"
    during=$(wc -l < "$OUT/$name.kernel-during-run.txt")
    echo "figure: $how: the kernel's own commands between the first and the last command of the run: $during ($(wc -l < "$OUT/$name.program.trace") commands of the program, $(report_field "$OUT/$name.json" elapsed_s) s)"
    expect "none of the kernel's own commands during the run (got $during)" [ "$during" = 0 ]
    # The disk driver is back on the stick: the kernel has read it afresh.
    disk_back() { [ -n "$(rig_sd "$stick")" ]; }
    rig_wait 10 "the disk to come back" disk_back || problem "the disk driver did not come back"
    sd=$(rig_sd "$stick")
    disk=${sd#/dev/}
    expect "the media polling of $disk is back as it was (2000)" \
        [ "$(cat "/sys/block/$disk/events_poll_msecs")" = 2000 ]
    echo "figure: $how: after the run the kernel sees $(cat "/sys/block/$disk/size" 2>/dev/null) sectors; the report says $(report_field "$OUT/$name.json" capacity_after_sectors)"
}

scenario kept
kept kept "$KEEP" KEEP0001 driver-off
scenario_end

# Where the disk driver cannot be taken off the stick (here its unbind attribute is made
# read-only), the disk is held open exclusively for the run: a mount and an exclusive open fail
# with EBUSY, and the kernel's polling is off until the end.
scenario held
unbind=/sys/bus/scsi/drivers/sd/unbind
if mount --bind "$unbind" "$unbind" && mount -o remount,ro,bind "$unbind"; then
    kept held "$HELD" HELD0001 held
    umount "$unbind"
else
    problem "the disk driver's unbind attribute cannot be made read-only"
fi
scenario_end

# A format with --replug of a stick whose old CIS page gave it fewer sectors than the format
# finds: the stick is plugged out and in again in software, and the kernel shows the new size
# and the new volume without a hand on the stick.
scenario replug
sd=$(rig_sd "$REPLUG")
before=$(cat "/sys/block/${sd#/dev/}/size")
usb=$(rig_usb_dir "$REPLUG")
brevant format --replug -d "$(rig_sg "$REPLUG")" -y --backup-dir /tmp/replug.backup \
    --report "$OUT/replug.json" > "$OUT/replug.txt" 2>&1
expect "the format ends with 0" [ $? = 0 ]
tail -3 "$OUT/replug.txt"
expect "it says the stick is back" grep -q "^Plugged in again: " "$OUT/replug.txt"
expect "the stick came back at the same USB port" [ "$(rig_usb_dir "$REPLUG")" = "$usb" ]
rig_wait_attached "$REPLUG" || problem "the stick is not attached after the soft re-plug"
sd=$(rig_sd "$REPLUG")
echo "figure: --replug: the kernel saw $before sectors before the run and sees $(cat "/sys/block/${sd#/dev/}/size") after it; the report says $(report_field "$OUT/replug.json" capacity_after_sectors)"
expect "the size changed with the format" [ "$(cat "/sys/block/${sd#/dev/}/size")" != "$before" ]
kernel_view_agrees "$REPLUG" "$OUT/replug.json"
scenario_end

# One command hangs: the kernel gives up on it after its time-out and resets the stick, which
# then reports the reset (UNIT ATTENTION 29h). The run goes on to its end.
scenario reset
mark=$(rig_trace_mark)
brevant format -d "$(rig_sg "$RESET")" -y --backup-dir /tmp/reset.backup --report "$OUT/reset.json" \
    --trace "$OUT/reset.program.trace" > "$OUT/reset.txt" 2>&1
expect "the format ends with 0" [ $? = 0 ]
tail -4 "$OUT/reset.txt"
rig_trace_since "$mark" "$RESET" > "$OUT/reset.stick.trace"
grep -n -A8 ' hung$' "$OUT/reset.stick.trace" | head -12
expect "the stick got a command it did not answer" grep -q ' hung$' "$OUT/reset.stick.trace"
expect "the report says complete" [ "$(report_field "$OUT/reset.json" result)" = complete ]
# The stick holds no bad block: the block under the time-out was looked at anew, not counted.
expect "no block counted bad for the time-out (reported: $(bad_blocks "$OUT/reset.json"))" \
    [ -z "$(bad_blocks "$OUT/reset.json")" ]
matches_record "$OUT/reset.stick.trace" "$OUT/reset.program.trace" > /tmp/diff ||
    problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
echo "figure: bad blocks reported after the time-out: $(bad_blocks "$OUT/reset.json")"
echo "figure: the program's record after the time-out:"
grep -A4 ' timed-out$' "$OUT/reset.program.trace" | head -6
scenario_end

# Sense cut short: a unit attention whose additional length (0 or 4) stops short of its code is
# a unit attention, not a reset; the command it answered is not sent again. Given in full it is
# the reset's, and the command goes again after its bank.
scenario sense
for reader in 3 4 5; do
    mark=$(rig_trace_mark)
    brevant check -d "$(rig_sg "reader $reader")" -vv > "$OUT/sense.$reader.txt" 2>&1
    # The stick's commands without usb-storage's REQUEST SENSE: the one that met the unit
    # attention and the two after it.
    rig_trace_since "$mark" "reader $reader" | command_part | grep -v '^03 ' |
        awk '/check-condition$/ && !seen { seen = 1; n = 3 } n > 0 { print; n-- }' > "/tmp/sense.$reader"
    echo "figure: reader $reader: $(grep -m1 'check condition' "$OUT/sense.$reader.txt" | sed 's/^brevant: //')"
    cat "/tmp/sense.$reader"
    again() { awk 'NR == 1 { cdb = $0; sub(/ (in|out|none) .*/, "", cdb) }
                   NR == 2 { bank = $1 == "FB" }
                   NR == 3 { line = $0; sub(/ (in|out|none) .*/, "", line); same = line == cdb }
                   END { exit !(bank && same) }' "/tmp/sense.$reader"; }
    not_again() { ! again; }
    case $reader in
        3) expect "reader 3 (sense in full): its bank selected again, then the same command" again ;;
        *) expect "reader $reader (sense cut short): classified as a unit attention, code unknown" \
               grep -q "check condition, sense 6/--/--" "$OUT/sense.$reader.txt"
           expect "reader $reader (sense cut short): the command is not sent again" not_again ;;
    esac
done
scenario_end

# The kernel takes at most 4 KiB a command for this stick (usb-storage's max_sectors): a Full
# format reads a block's data (8 KiB) in two commands and finds what it finds without the limit.
scenario transfers
scsi=$(rig_scsi_dir "$SMALL")
echo 8 > "$scsi/max_sectors"
mark=$(rig_trace_mark)
brevant format -f -d "$(rig_sg "$SMALL")" -y --backup-dir /tmp/transfers.backup \
    --report "$OUT/transfers.json" > "$OUT/transfers.txt" 2>&1
expect "the Full format ends with 0" [ $? = 0 ]
rig_trace_since "$mark" "$SMALL" > "$OUT/transfers.stick.trace"
largest=$(command_part < "$OUT/transfers.stick.trace" | awk '$13 == "in" || $13 == "out" { if ($14 > m) m = $14 } END { print m + 0 }')
echo "figure: the largest transfer the stick received: $largest bytes ($(count_ops FA "$OUT/transfers.stick.trace") block reads)"
expect "no command carried more than 4096 bytes (largest $largest)" [ "$largest" -le 4096 ]
expect "the report says complete" [ "$(report_field "$OUT/transfers.json" result)" = complete ]
scenario_end

# A stick that locks up in the middle of the scan: each command waits out its time-out and the
# kernel's reset of the stick; the run gives up after a bounded number of them.
scenario silent
silent_start=$(uptime_ms)
mark=$(rig_trace_mark)
brevant format -d "$(rig_sg "$SILENT")" -y --backup-dir /tmp/silent.backup \
    --report "$OUT/silent.json" --trace "$OUT/silent.program.trace" > "$OUT/silent.txt" 2>&1 &
silent_pid=$!
hung() { rig_trace_since "$mark" "$SILENT" | grep -q ' hung$'; }
rig_wait 60 "the stick to stop answering" hung || problem "the stick never stopped answering"
hung_at=$(uptime_ms)
wait "$silent_pid"
code=$?
silent_end=$(uptime_ms)
tail -4 "$OUT/silent.txt"
echo "figure: a stick that stops answering: the run ended $(((silent_end - hung_at) / 1000)) s after its first unanswered command ($(((silent_end - silent_start) / 1000)) s in all; the report: $(report_field "$OUT/silent.json" elapsed_s) s); $(grep -c ' timed-out$' "$OUT/silent.program.trace") commands timed out"
expect "the run of a silent stick ends with 1 (got $code)" [ "$code" = 1 ]
expect "the report says unresponsive" [ "$(report_field "$OUT/silent.json" result)" = unresponsive ]
expect "it says the stick does not answer" grep -q "does not answer" "$OUT/silent.txt"
expect "no block counted bad for the silence (reported: $(bad_blocks "$OUT/silent.json"))" \
    [ -z "$(bad_blocks "$OUT/silent.json")" ]
expect "within a minute of the first unanswered command" [ $((silent_end - hung_at)) -lt 60000 ]
# The kernel's own look at it would wait out its time-outs: no disk until it is plugged in again.
expect "the disk driver is left off the stick" [ -z "$(rig_sd "$SILENT")" ]
scenario_end
