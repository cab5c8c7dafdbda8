#!/usr/bin/env bash
# One batch of kernel scenarios: a fresh output folder, then one boot of the kernel rig that runs
# tests/kernel/BATCH.sh on MACHINE. Its scenarios' verdicts land in OUT/results (result.sh).
#   bash tests/kernel/run-batch.sh BATCH MACHINE OUT
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
batch=$1 machine=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
exec bash "$here/../../scripts/kernel-rig.sh" --machine "$machine" --in "$here/scenario.sh" \
    --out "$out" --timeout 600 "$here/$batch.sh"
