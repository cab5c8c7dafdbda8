# Kernel scenarios of a shop's station (tests/kernel/station.txt): format --all over the eight
# sticks plugged in, then a watch that formats the two plugged in while it runs.
. "$IN/scenario.sh"

# once_formatted TRACE: the stick's lines in TRACE hold one complete format: one C4.
once_formatted() { [ "$(count_ops C4 "$1")" = 1 ]; }
only_inquiry() { [ -z "$(grep -v ': 12 ' "$1")" ]; }
# Who it is and whether it is ready, nothing that reads the flash, writes or erases.
only_probed() { [ -z "$(grep -vE ': (12|03|00) ' "$1")" ]; }

scenario format-all
mark=$(rig_trace_mark)
brevant format --all --yes --report-dir "$OUT/all" > "$OUT/format-all.txt" 2>&1
expect "format --all ends with 0" [ $? = 0 ]
tail -12 "$OUT/format-all.txt"
for reader in 0 1 2 3 4 5 6 7; do
    serial=$(rig_field "reader $reader" 4)
    rig_trace_since "$mark" "reader $reader" > "/tmp/all.$reader.trace"
    expect "reader $reader ($serial) was formatted once" once_formatted "/tmp/all.$reader.trace"
    report=$(ls "$OUT/all/$serial"*.json 2>/dev/null | head -1)
    expect "reader $reader ($serial) has a report that says complete" \
        [ "$(report_field "$report" result)" = complete ]
done
rig_trace_since "$mark" "foreign C" > /tmp/all.foreign.trace
expect "the system disk got nothing but INQUIRY" only_inquiry /tmp/all.foreign.trace
scenario_end

scenario watch
mark=$(rig_trace_mark)
# Started as a terminal runs its foreground job, so that a SIGINT reaches it as a Ctrl-C.
default_signals_guest brevant watch --yes --report-dir "$OUT/watch" > "$OUT/watch.txt" 2>&1 &
watch_pid=$!
rig_wait 60 "the watch to begin" grep -q "Watching for sticks" "$OUT/watch.txt" ||
    problem "the watch did not begin"
for reader in 8 9; do
    rig_replug "reader $reader" || problem "reader $reader was not attached"
done
complete_reports() { [ "$(grep -l '"result": "complete"' "$OUT"/watch/*.json 2>/dev/null | wc -l)" -ge 2 ]; }
rig_wait 120 "the watch to format both sticks" complete_reports ||
    problem "the watch did not format both sticks"
kill -INT "$watch_pid"
# Ended: gone, or a zombie waiting for the wait below.
ended() { [ ! -e "/proc/$1/status" ] || grep -q '^State:[[:space:]]*Z' "/proc/$1/status"; }
rig_wait 60 "the watch to end after Ctrl-C" ended "$watch_pid" ||
    { problem "the watch did not end after Ctrl-C"; kill -KILL "$watch_pid"; }
wait "$watch_pid"
expect "the watch ends with 0" [ $? = 0 ]
tail -6 "$OUT/watch.txt"
for reader in 8 9; do
    rig_trace_since "$mark" "reader $reader" > "/tmp/watch.$reader.trace"
    expect "reader $reader, plugged in during the watch, was formatted once" \
        once_formatted "/tmp/watch.$reader.trace"
done
for reader in 0 1 2 3 4 5 6 7; do
    rig_trace_since "$mark" "reader $reader" > "/tmp/watch.$reader.trace"
    expect "reader $reader, there before the watch, was left alone (asked only who it is and whether it is ready)" \
        only_probed "/tmp/watch.$reader.trace"
done
rig_trace_since "$mark" "foreign C" > /tmp/watch.foreign.trace
expect "the system disk got nothing but INQUIRY" only_inquiry /tmp/watch.foreign.trace
scenario_end
