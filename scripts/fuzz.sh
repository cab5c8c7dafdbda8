#!/usr/bin/env bash
# Builds every fuzz target (fuzz/NAME_fuzz.cpp) with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer against the product's sources (tree build/fuzz), then runs each one
# for a short while, starting from its committed seeds in fuzz/corpus/NAME/ and with the words
# of fuzz/NAME.dict when there is one. Inputs it finds on the way are kept in build/fuzz, not
# in the tree. FUZZ_SECONDS sets the time of each run (default 20). Exits non-zero when a
# target fails; the input that made it fail is left as build/fuzz/crash-*.
#
# Longer runs, before a release or after a change to a parser: FUZZ_SECONDS=600 bash
# scripts/fuzz.sh (ten minutes a target; what they find stays in build/fuzz/corpus and is the
# starting point of the next run), or one target by hand, e.g.
#   build/fuzz/device_replies_fuzz -max_total_time=3600 -timeout=10 -rss_limit_mb=2048 \
#       build/fuzz/corpus/device_replies fuzz/corpus/device_replies
# A failing input is run alone by naming it: build/fuzz/NAME_fuzz build/fuzz/crash-...; with
# DEVICE_REPLIES_TRACE=1 the device_replies target lists the commands the input leads to.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-20}
source scripts/compiler-cache.sh
cmake -S . -B build/fuzz -G Ninja "${cache_args[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBREVANT_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$(nproc)"
shopt -s nullglob
for source in fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    name=${target%_fuzz}
    found=build/fuzz/corpus/$name
    mkdir -p "$found"
    args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
          -artifact_prefix=build/fuzz/)
    [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
    # New inputs go to the first folder; the committed seeds are only read.
    corpora=("$found")
    [ -d "fuzz/corpus/$name" ] && corpora+=("fuzz/corpus/$name")
    echo "== fuzz $target (${seconds}s) =="
    # The progress lines and the recommended dictionary are left out; findings are not.
    set +e
    "build/fuzz/$target" "${args[@]}" "${corpora[@]}" 2>&1 |
        grep -v -E '^(#[0-9]+[[:space:]]+(NEW|REDUCE|pulse)|"|###### )'
    status=${PIPESTATUS[0]}
    set -e
    if [ "$status" -ne 0 ]; then
        echo "fuzz: $target failed (exit status $status)" >&2
        exit 1
    fi
done
