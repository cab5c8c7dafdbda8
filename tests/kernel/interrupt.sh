# Kernel scenarios of runs cut off (tests/kernel/interrupt.txt): the stick pulled in the middle
# of a format and plugged back in (then restore-cis), Ctrl-C in the middle of one, and a format
# stopped and continued many times.
. "$IN/scenario.sh"
STICK="reader 0"
# Bank 0's first two pages: the old CIS page and the vendor page behind it.
read_pages "$(rig_sg "$STICK")" 0 2 /tmp/pages.before || echo "cannot read the pages before"

# Starts a Quick format of the stick in the background: $run_pid, $mark.
start_format() {
    local name=$1
    sg=$(rig_sg "$STICK")
    mark=$(rig_trace_mark)
    # Started as a terminal runs its foreground job, so that a SIGINT reaches it as a Ctrl-C.
    default_signals_guest brevant format -d "$sg" -y --backup-dir "/tmp/$name.backup" --report "$OUT/$name.json" \
        --trace "$OUT/$name.program.trace" > "$OUT/$name.txt" 2>&1 &
    run_pid=$!
}

pages_back() {
    read_pages "$(rig_sg "$STICK")" 0 2 "/tmp/pages.$1" && cmp -s /tmp/pages.before "/tmp/pages.$1"
}

# Every block the report counts bad is one the stick holds as bad (5 and 700).
only_held_bad_blocks() {
    for block in $(bad_blocks "$1"); do
        [ "$block" = 5 ] || [ "$block" = 700 ] || return 1
    done
}

scenario pull
start_format pull
wait_ops "$mark" F2 300 60 || problem "the format did not get under way"
rig_unplug "$STICK" || problem "the stick did not go"
wait "$run_pid"
expect "the run of a pulled stick ends with 1" [ $? = 1 ]
tail -4 "$OUT/pull.txt"
expect "the report says removed" [ "$(report_field "$OUT/pull.json" result)" = removed ]
expect "no block counted bad that the stick does not hold as bad (reported: $(bad_blocks "$OUT/pull.json"))" \
    only_held_bad_blocks "$OUT/pull.json"
rig_replug "$STICK" || problem "the stick did not come back"
backup=$(ls /tmp/pull.backup/* 2>/dev/null | head -1)
expect "the format kept the old pages in a backup" [ -f "$backup" ]
brevant restore-cis "$backup" -d "$(rig_sg "$STICK")" -y > "$OUT/pull.restore.txt" 2>&1
expect "restore-cis ends with 0" [ $? = 0 ]
cat "$OUT/pull.restore.txt"
expect "restore-cis put the CIS and vendor pages back byte for byte" pages_back pull
scenario_end

scenario ctrl-c
start_format ctrl-c
wait_ops "$mark" F2 300 60 || problem "the format did not get under way"
kill -INT "$run_pid"
wait "$run_pid"
expect "a run stopped by Ctrl-C ends with 3" [ $? = 3 ]
tail -3 "$OUT/ctrl-c.txt"
expect "the report says cancelled" [ "$(report_field "$OUT/ctrl-c.json" result)" = cancelled ]
rig_trace_since "$mark" "$STICK" > "$OUT/ctrl-c.stick.trace"
expect "the old CIS and vendor pages are back byte for byte" pages_back ctrl-c
matches_record "$OUT/ctrl-c.stick.trace" "$OUT/ctrl-c.program.trace" > /tmp/diff ||
    problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
scenario_end

# A format stopped and continued 30 times (a Ctrl-Z and fg, a freezer): every command still
# reaches the stick once.
scenario stop-continue
start_format stop-continue
wait_ops "$mark" F2 10 60 || problem "the format did not get under way"
pairs=0
while [ "$pairs" -lt 30 ] && kill -0 "$run_pid" 2>/dev/null; do
    kill -STOP "$run_pid" && kill -CONT "$run_pid"
    pairs=$((pairs + 1))
    # The next pair falls on another command: the stick has received one more since this one.
    seen=$(rig_trace_mark)
    rig_wait 30 "a command after stop $pairs" sh -c "[ \$(wc -l < \"\$STICK_TRACE\") -gt $seen ]" ||
        break
done
wait "$run_pid"
expect "the format ends with 0" [ $? = 0 ]
expect "30 stops and continues during the run (got $pairs)" [ "$pairs" = 30 ]
rig_trace_since "$mark" "$STICK" > "$OUT/stop-continue.stick.trace"
matches_record "$OUT/stop-continue.stick.trace" "$OUT/stop-continue.program.trace" > /tmp/diff ||
    problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
scenario_end
