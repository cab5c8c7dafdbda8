#!/usr/bin/env bash
# The main job: a Quick and then a Full format of a simulated flash disk, end to end, with
# progress and the result, then a check of the FAT volume each one produced (fsck.fat -n, and an
# mtools listing and file round trip). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh native

brevant=build/native/brevant
disk=sim/examples/demo-64mb.txt
out=build/demo
if [ ! -x "$brevant" ]; then
    echo "demo: $brevant was not built" >&2
    exit 1
fi
rm -rf "$out"
mkdir -p "$out"

# Checks one exported volume: fsck.fat finds nothing to mend, mtools lists it and a file copied
# in comes back unchanged.
check_volume() {
    local image=$1
    echo "== fsck.fat -n $image =="
    fsck.fat -n "$image"
    echo "== mdir -i $image :: =="
    MTOOLS_SKIP_CHECK=1 mdir -i "$image" ::
    head -c 300000 /dev/urandom > "$out/sample.bin"
    MTOOLS_SKIP_CHECK=1 mcopy -i "$image" "$out/sample.bin" ::SAMPLE.BIN
    MTOOLS_SKIP_CHECK=1 mcopy -n -i "$image" ::SAMPLE.BIN "$out/sample.back"
    cmp "$out/sample.bin" "$out/sample.back"
    MTOOLS_SKIP_CHECK=1 mdir -i "$image" ::
    fsck.fat -n "$image"
    echo "volume $image: clean, and a file went in and came back unchanged"
}

# Runs one format and insists on its exit status.
format() {
    local mode=$1 image=$2 latency=$3
    local args=(format --yes --simulate "$disk" --sim-latency "$latency" --export-image "$image"
                --log "$out/$mode.log" --backup-dir "$out/cis" --report "$out/$mode.json"
                --map "$out/$mode.svg")
    [ "$mode" = full ] && args+=(--full)
    echo "== brevant ${args[*]} =="
    local status=0
    "$brevant" "${args[@]}" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "demo: the $mode format ended with exit status $status" >&2
        exit 1
    fi
    # The report says the same as the exit status, and names the blocks the summary named.
    python3 - "$out/$mode.json" <<'PY'
import json, sys
report = json.load(open(sys.argv[1]))
assert report["result"] == "complete", report["result"]
bad = [b["block"] for bank in report["banks"] for b in bank["bad_blocks"]]
assert report["bad_blocks"] == len(bad) > 0, bad
print("report %s: complete, bad blocks %s" % (sys.argv[1], bad))
PY
}

echo "== brevant list --simulate $disk =="
"$brevant" list --simulate "$disk"

format quick "$out/quick.img" 300
check_volume "$out/quick.img"

format full "$out/full.img" 60
check_volume "$out/full.img"

echo "== the format logs =="
tail -n 3 "$out/quick.log" "$out/full.log"
echo "demo: both formats complete, both volumes clean (files in $out)"
