#!/usr/bin/env bash
# Figures of brevant on a real kernel (the kernel rig, scripts/kernel-rig.sh), printed, not
# checked against a limit: the wall time of a Quick format of the 64 MiB stick of
# sim/examples/demo-64mb.txt through SG_IO, usb-storage and the simulated stick, brevant's time
# per command in it, and the time per command of a bare SG_IO loop that sends the same commands
# again (bench/sgio_replay_guest.cpp), with their ratio.
#   bash bench/kernel-bench.sh            (after bash scripts/build.sh native)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/build/kernel-bench"
rm -rf "$out"
bash "$root/scripts/kernel-rig.sh" --machine "$root/sim/examples/demo-64mb.txt" --out "$out" \
    "$root/bench/kernel-bench-guest.sh" | grep '^bench: '
