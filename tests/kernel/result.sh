#!/usr/bin/env bash
# One kernel scenario's verdict, as its batch left it in DIR/results/NAME (scenario.sh):
#   bash tests/kernel/result.sh DIR NAME             the scenario must pass
#   bash tests/kernel/result.sh DIR NAME fault WHY   the scenario is expected to fail for a known
#                                                    fault of the program: it must show that
#                                                    fault (and nothing else)
# A scenario without a verdict failed: its guest did not boot, or did not get to it.
set -uo pipefail
dir=$1 name=$2 expected=${3:-pass} why=${4:-}
file="$dir/results/$name"
if [ ! -f "$file" ]; then
    echo "$name: no verdict: the guest did not run it (see $dir/console.log)"
    exit 1
fi
cat "$file"
verdict=$(head -1 "$file")
case "$expected:$verdict" in
    pass:pass) exit 0 ;;
    fault:fault) echo "$name: fails as expected: $why"; exit 0 ;;
    fault:pass) echo "$name: passes now: take its expected-failure mark away"; exit 1 ;;
    *) exit 1 ;;
esac
