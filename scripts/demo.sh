#!/usr/bin/env bash
# The main job: a Quick and then a Full format of a simulated flash disk, end to end, with
# progress and the result, then a check of the FAT volume it produced.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh native
if [ ! -x build/native/brevant ]; then
    echo "The command line is not built yet: nothing to format." >&2
    exit 1
fi
