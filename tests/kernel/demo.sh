# Kernel scenarios on sim/examples/demo-64mb.txt: a 64 MiB stick with an old CIS page, a vendor
# page and bad blocks beside a system disk (foreign C) and a DVD drive (foreign D).
# Scenarios: list, check, quick (with the --simulate comparison), full.
. "$IN/scenario.sh"
STICK="reader 0"
sg=$(rig_sg "$STICK")

scenario list
mark=$(rig_trace_mark)
brevant list > "$OUT/list.txt" 2>&1
expect "brevant list ends with 0" [ $? = 0 ]
cat "$OUT/list.txt"
rig_trace_since "$mark" > "$OUT/list.stick.trace"
scsi=$(rig_scsi_dir "$STICK")
vendor=$(cat "$scsi/vendor" | sed 's/ *$//')
model=$(cat "$scsi/model" | sed 's/ *$//')
rev=$(cat "$scsi/rev" | sed 's/ *$//')
serial=$(cat "$(rig_usb_dir "$STICK")/serial")
port=$(basename "$(rig_usb_dir "$STICK")")
expect "list names $sg as the kernel does: $vendor $model $rev" \
    grep -q "^$sg: USB flash disk, $vendor $model $rev\$" "$OUT/list.txt"
expect "list shows the USB serial number $serial and the USB port $port" \
    grep -q "serial: $serial  USB port $port\$" "$OUT/list.txt"
expect "the stick announces the serial of its description's place" [ "$serial" = "000000000003" ]
expect "the program read the whole INQUIRY reply, signature and medium code included" \
    grep -q "^$STICK lun 0: 12 00 00 00 38 00 00 00 00 00 00 00 in 56 good\$" "$OUT/list.stick.trace"
for foreign in "foreign C" "foreign D"; do
    grep "^$foreign: " "$OUT/list.stick.trace" > "$OUT/list.foreign.trace"
    expect "$foreign was asked who it is" grep -q ": 12 " "$OUT/list.foreign.trace"
    expect "$foreign got nothing but INQUIRY" [ -z "$(grep -v ': 12 ' "$OUT/list.foreign.trace")" ]
done
scenario_end

scenario check
mark=$(rig_trace_mark)
brevant check -d "$sg" --report "$OUT/check.json" > "$OUT/check.txt" 2>&1
expect "brevant check ends with 0" [ $? = 0 ]
rig_trace_since "$mark" "$STICK" > "$OUT/check.stick.trace"
expect "the check read the flash" grep -q ': E8 ' "$OUT/check.stick.trace"
expect "the check sent nothing but reading commands" [ -z "$(command_part < "$OUT/check.stick.trace" |
    grep -vE '^(12|00|03|25|28|C2|FB|F7|C3|E8|F3|FA) ')" ]
brevant check --simulate "$MACHINE" -d sim:E --report /tmp/check.sim.json > /dev/null 2>&1
expect "the check finds the bad blocks --simulate finds: $(bad_blocks /tmp/check.sim.json)" \
    [ "$(bad_blocks "$OUT/check.json")" = "$(bad_blocks /tmp/check.sim.json)" ]
scenario_end

# A format through the kernel and the same through --simulate: the stick receives what the
# program says it sent, each command once, and from the first GET BANK COUNT on exactly what the
# simulated machine receives.
format_scenario() {
    local name=$1 mode=$2 extra=$3
    scenario "$name"
    sg=$(rig_sg "$STICK")
    mark=$(rig_trace_mark)
    brevant format $mode $extra -d "$sg" -y --backup-dir "/tmp/$name.backup" --report "$OUT/$name.json" \
        --trace "$OUT/$name.program.trace" > "$OUT/$name.txt" 2>&1
    expect "brevant format $mode ends with 0" [ $? = 0 ]
    tail -6 "$OUT/$name.txt"
    rig_trace_since "$mark" "$STICK" > "$OUT/$name.stick.trace"
    matches_record "$OUT/$name.stick.trace" "$OUT/$name.program.trace" > /tmp/diff ||
        problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
    expect "a C4 once" [ "$(count_ops C4 "$OUT/$name.stick.trace")" = 1 ]
    expect "the report says complete" [ "$(report_field "$OUT/$name.json" result)" = complete ]
    brevant format $mode --simulate "$MACHINE" -d sim:E -y --backup-dir "/tmp/$name.sim.backup" \
        --report "/tmp/$name.sim.json" --trace "$OUT/$name.simulate.trace" > /dev/null 2>&1
    expect "the bad blocks are those --simulate finds: $(bad_blocks "/tmp/$name.sim.json")" \
        [ "$(bad_blocks "$OUT/$name.json")" = "$(bad_blocks "/tmp/$name.sim.json")" ]
}

# The Quick format plugs the stick in again in software (--replug): the kernel's view agrees
# without a hand on the stick.
format_scenario quick "" --replug
# The Must-show: from the first GET BANK COUNT (C2h) on, the stick's trace of the format is the
# simulated machine's, the kernel's own commands aside.
without_kernel "$OUT/quick.stick.trace" | sed -n '/: C2 /,$p' | sed '/: 1B 00 /q' > "$OUT/quick.stick.from-c2.trace"
grep "^$STICK" "$OUT/quick.simulate.trace" | sed -n '/: C2 /,$p' > "$OUT/quick.simulate.from-c2.trace"
expect "from C2h on the stick's trace is --simulate's ($(wc -l < "$OUT/quick.stick.from-c2.trace") lines)" \
    cmp -s "$OUT/quick.stick.from-c2.trace" "$OUT/quick.simulate.from-c2.trace"
expect "the program says the stick is back" grep -q "^Plugged in again: " "$OUT/quick.txt"
grep "^Plugged in again: " "$OUT/quick.txt"
rig_wait_attached "$STICK" || problem "the stick did not come back after the soft re-plug"
echo "figure: --replug: the kernel sees $(cat "/sys/block/$(basename "$(rig_sd "$STICK")")/size") sectors after the run, the report says $(report_field "$OUT/quick.json" capacity_after_sectors)"
kernel_view_agrees "$STICK" "$OUT/quick.json"
scenario_end

format_scenario full -f
rig_unplug "$STICK" && rig_replug "$STICK" || problem "the re-plug did not come through"
kernel_view_agrees "$STICK" "$OUT/full.json"
scenario_end
