# Kernel scenarios of runs cut off (tests/kernel/interrupt.txt): Ctrl-C in the middle of a
# format, a format stopped and continued and its terminal resized many times, and a stick pulled
# at a dozen points of Quick and Full runs and plugged back in (then restore-cis).
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

# Every block the report counts bad is one the stick holds as bad (5, and 700 or 300).
only_held_bad_blocks() {
    for block in $(bad_blocks "$1"); do
        [ "$block" = 5 ] || [ "$block" = "$2" ] || return 1
    done
}

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

# A format stopped and continued 30 times (a Ctrl-Z and fg, a freezer) and its terminal resized
# 100 times (the progress line redraws on SIGWINCH): every command still reaches the stick once.
scenario stop-continue
sg=$(rig_sg "$STICK")
mark=$(rig_trace_mark)
pty_guest /tmp/stop-continue.pid brevant format -d "$sg" -y --backup-dir /tmp/stop-continue.backup \
    --report "$OUT/stop-continue.json" --trace "$OUT/stop-continue.program.trace" \
    > "$OUT/stop-continue.txt" 2>&1 &
pty_pid=$!
wait_ops "$mark" F2 10 60 || problem "the format did not get under way"
run_pid=$(cat /tmp/stop-continue.pid)
pairs=0 resizes=0
while [ "$pairs" -lt 30 ] && kill -0 "$run_pid" 2>/dev/null; do
    kill -STOP "$run_pid" && kill -CONT "$run_pid"
    pairs=$((pairs + 1))
    for i in 1 2 3 4; do
        [ "$resizes" -lt 100 ] && kill -WINCH "$run_pid" 2>/dev/null && resizes=$((resizes + 1))
    done
    # The next pair falls on another command: the stick has received one more since this one.
    seen=$(rig_trace_mark)
    rig_wait 30 "a command after stop $pairs" sh -c "[ \$(wc -l < \"\$STICK_TRACE\") -gt $seen ]" ||
        break
done
wait "$pty_pid"
expect "the format ends with 0" [ $? = 0 ]
expect "30 stops and continues during the run (got $pairs)" [ "$pairs" = 30 ]
expect "100 resizes of its terminal during the run (got $resizes)" [ "$resizes" = 100 ]
expect "the run drew its progress line on the terminal" grep -q "Formatting" "$OUT/stop-continue.txt"
rig_trace_since "$mark" "$STICK" > "$OUT/stop-continue.stick.trace"
matches_record "$OUT/stop-continue.stick.trace" "$OUT/stop-continue.program.trace" > /tmp/diff ||
    problem "the stick did not receive what the program's record says: $(cat /tmp/diff)"
echo "figure: $(wc -l < "$OUT/stop-continue.program.trace") commands sent, each received once, through $pairs stops and continues and $resizes resizes"
scenario_end

# Sticks pulled at a dozen points of Quick and Full runs (a stick for each: readers 1 to 12):
# each run ends as removed and counts no block bad that the stick does not hold as bad; after the
# re-plug restore-cis puts the pages back (a run pulled before it kept them has not touched them).
scenario pulls
mkdir -p "$OUT/pulls"
pulled_pages_back() {
    read_pages "$(rig_sg "$1")" 0 2 "/tmp/pulled.after" "$3" && cmp -s "/tmp/pulled.$2" /tmp/pulled.after
}
# pull_at READER NAME MODE OPCODE COUNT HELD PPB: pulls reader READER once the stick has received
# COUNT commands OPCODE of a format in MODE; HELD is the block it holds bad besides 5, PPB its
# pages per block (hex).
pull_at() {
    local stick="reader $1" name=$2 mode=$3 op=$4 count=$5 held=$6 ppb=$7 code backup sg
    sg=$(rig_sg "$stick")
    [ -n "$sg" ] || { problem "$name: $stick has no node"; return; }
    read_pages "$sg" 0 2 "/tmp/pulled.$name" "$ppb" || problem "$name: cannot read the pages before"
    mark=$(rig_trace_mark)
    brevant format $mode -d "$sg" -y --backup-dir "/tmp/pulls/$name" --report "$OUT/pulls/$name.json" \
        --trace "$OUT/pulls/$name.program.trace" > "$OUT/pulls/$name.txt" 2>&1 &
    run_pid=$!
    wait_ops "$mark" "$op" "$count" 60 || problem "$name: the run did not get to $count $op"
    rig_unplug "$stick" || problem "$name: the stick did not go"
    wait "$run_pid"
    code=$?
    rig_trace_since "$mark" "$stick" > "/tmp/pulled.$name.trace"
    expect "$name: the run of a pulled stick ends with 1 (got $code)" [ "$code" = 1 ]
    expect "$name: the report says removed ($(report_field "$OUT/pulls/$name.json" result))" \
        [ "$(report_field "$OUT/pulls/$name.json" result)" = removed ]
    expect "$name: the summary says the stick was pulled out" \
        grep -q "pulled out during the format" "$OUT/pulls/$name.txt"
    expect "$name: no block counted bad that the stick does not hold as bad (reported: $(bad_blocks "$OUT/pulls/$name.json"))" \
        only_held_bad_blocks "$OUT/pulls/$name.json" "$held"
    # The commands the program saw end with the host's error, and with no device, once pulled.
    echo "figure: $name: pulled after $count $op; $(count_ops F2 "/tmp/pulled.$name.trace") erases received; the program's record: $(grep -c ' host-error$' "$OUT/pulls/$name.program.trace") host errors, $(grep -c ' no-device$' "$OUT/pulls/$name.program.trace") no-device; bad blocks reported: $(bad_blocks "$OUT/pulls/$name.json")(held: 5 $held)"
    rig_replug "$stick" || { problem "$name: the stick did not come back"; return; }
    backup=$(ls "/tmp/pulls/$name"/* 2>/dev/null | head -1)
    if [ -n "$backup" ]; then
        brevant restore-cis "$backup" -d "$(rig_sg "$stick")" -y > "$OUT/pulls/$name.restore.txt" 2>&1
        expect "$name: restore-cis ends with 0" [ $? = 0 ]
    fi
    expect "$name: the old CIS and vendor pages are there byte for byte" \
        pulled_pages_back "$stick" "$name" "$ppb"
}
pull_at 1 quick-start "" C2 1 300 10
pull_at 2 quick-old-pages "" E8 2 300 10
pull_at 3 quick-first-erase "" F2 1 300 10
pull_at 4 quick-early "" F2 60 300 10
pull_at 5 quick-middle "" F2 250 300 10
pull_at 6 quick-late "" F2 400 300 10
pull_at 7 quick-volume "" 2A 2 200 10
pull_at 8 full-fill -f C1 2 300 10
pull_at 9 full-first-blocks -f FA 20 300 10
pull_at 10 full-spare -f F3 80 300 10
pull_at 11 full-erases -f F2 150 300 10
pull_at 12 full-verify -f FA 300 300 10
scenario_end
