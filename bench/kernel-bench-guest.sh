# The guest's part of bench/kernel-bench.sh (busybox sh in the kernel rig).
. /rig/lib.sh
sg=$(rig_sg "reader 0")
ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
start=$(ms)
brevant format -d "$sg" -y -q --backup-dir /tmp/backup --trace /tmp/format.record > /dev/null 2>&1 ||
    echo "bench: the format failed"
elapsed=$(($(ms) - start))
commands=$(wc -l < /tmp/format.record)
echo "bench: Quick format of 64 MiB through the kernel: $((elapsed / 1000)).$((elapsed % 1000 / 100)) s, $commands commands"
program_us=$((elapsed * 1000 / commands))
echo "bench: brevant: $program_us us per command"
# The format ends by stopping the stick: a re-plug brings it back, as for a user.
rig_unplug "reader 0" && rig_replug "reader 0" || echo "bench: the re-plug failed"
sgio_replay_guest "$(rig_sg "reader 0")" /tmp/format.record > /tmp/replay.txt
bare_us=$(sed -n 's/^us per command //p' /tmp/replay.txt)
echo "bench: bare SG_IO loop of the same commands: $bare_us us per command ($(sed -n 's/^not good //p' /tmp/replay.txt) not good; the data-out commands carry zeros there)"
echo "bench: brevant / bare SG_IO: $(awk -v p="$program_us" -v b="$bare_us" 'BEGIN { printf "%.2f", p / b }')"
