# Kernel scenarios of a shop's station (tests/kernel/station.txt): format --all over the eight
# sticks plugged in, then a watch that formats the two plugged in while it runs.
. "$IN/scenario.sh"

# once_formatted TRACE: the stick's lines in TRACE hold one complete format: one C4.
once_formatted() { [ "$(count_ops C4 "$1")" = 1 ]; }
only_inquiry() { [ -z "$(grep -v ': 12 ' "$1")" ]; }
# Who it is, whether it is ready and its size; nothing that reads the flash, writes or erases.
only_probed() { [ -z "$(grep -vE ': (12|03|00|25) ' "$1")" ]; }

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
# From here on the watch has had its look at what was there; it looks again only when the
# kernel says something came or went.
look_mark=$(rig_trace_mark)
look_start=$(uptime_ms)
# The late sticks have never been formatted: their first erase is the watch's format under way
# (the watch and its worker look at a stick with reading commands before). Only what the trace
# got since the plug-in is looked at: the guest has one processor, and a wait that read the
# whole trace every 20 ms would take it from the watch it measures.
began_formatting() { tail -c +"$2" "$STICK_TRACE" | grep -q "^reader $1 lun 0: F2 "; }
complete_reports() { [ "$(grep -l '"result": "complete"' "$OUT"/watch/*.json 2>/dev/null | wc -l)" -ge "$1" ]; }
formatted=0
for reader in 8 9; do
    # Each plugged into a machine at rest: the guest's one processor also carries the simulated
    # sticks, and a format going on beside would take its time from the one being measured.
    rig_wait 120 "the sticks before to be formatted" complete_reports "$formatted" ||
        problem "the watch did not format the sticks before reader $reader"
    # ... and taken in again by the kernel after their soft re-plugs.
    [ "$reader" = 8 ] || rig_wait_attached "reader $((reader - 1))" ||
        problem "reader $((reader - 1)) did not come back after its run"
    formatted=$((formatted + 1))
    from=$(($(wc -c < "$STICK_TRACE") + 1))
    plugged=$(uptime_ms)
    # Plugged in without waiting for the kernel to attach it: the watch takes the stick as soon
    # as it is there, and its disk driver off it.
    : > "$STICK_CONTROL/replug-$reader"
    rig_wait 30 "reader $reader to be formatted" began_formatting "$reader" "$from" ||
        problem "the watch did not begin to format reader $reader"
    latency=$(($(uptime_ms) - plugged))
    echo "figure: reader $reader: from its plug-in to its first erase: $latency ms"
    # The guest's processor is emulated, many times slower than a machine's, and shares the
    # host's with whatever else runs there: 0.7 s of this is the kernel's own taking in of the
    # stick, and each of the program's steps (the watch's look, the worker's start, its claim
    # and looks) costs 100 to 200 ms. About 1.5 s on a host at rest; the bound is for a busy one.
    expect "the watch formats reader $reader within 5 s of its plug-in on the emulated machine (got $latency ms)" \
        [ "$latency" -le 5000 ]
done
rig_wait 120 "the watch to format both sticks" complete_reports 2 ||
    problem "the watch did not format both sticks"
ten_seconds() { [ "$(uptime_ms)" -ge $((look_start + 10000)) ]; }
rig_wait 30 "ten seconds of watching" ten_seconds
inquiries=$(rig_trace_since "$look_mark" "foreign C" | grep -c ': 12 ')
first_look=$(($(rig_trace_since "$mark" "foreign C" | grep -c ': 12 ') - inquiries))
echo "figure: INQUIRYs to the foreign stick: $first_look at the watch's first look, $inquiries in the $(($(uptime_ms) - look_start)) ms after it"
expect "the system disk was asked once at most when the watch met it (got $first_look)" [ "$first_look" -le 1 ]
expect "the system disk was asked nothing while it sat there (got $inquiries INQUIRYs)" [ "$inquiries" = 0 ]
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
    expect "reader $reader, there before the watch, was left alone (asked only who it is, whether it is ready and its size)" \
        only_probed "/tmp/watch.$reader.trace"
done
rig_trace_since "$mark" "foreign C" > /tmp/watch.foreign.trace
expect "the system disk got nothing but INQUIRY" only_inquiry /tmp/watch.foreign.trace
scenario_end
