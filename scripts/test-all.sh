#!/usr/bin/env bash
# Installs what is needed, checks that the sources are as .clang-format has them, builds every
# tree and runs every test: the native tests, each fuzz target for a short while, the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, the scenarios on a real Linux kernel
# (scripts/kernel-rig.sh) and the Windows program under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
echo "== source format (at ${SECONDS} s) =="
bash scripts/check-format.sh
bash scripts/build.sh native asan win32
export BREVANT_WIN32_DIR="$PWD/build/win32"
echo "== native tests (at ${SECONDS} s) =="
BREVANT_SKIP_WINE=1 ctest --test-dir build/native --output-on-failure -j "$(nproc)" -LE kernel
echo "== fuzz targets (at ${SECONDS} s) =="
FUZZ_SECONDS=10 bash scripts/fuzz.sh
echo "== sanitizer tests (at ${SECONDS} s) =="
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 BREVANT_SKIP_WINE=1 \
    ctest --test-dir build/asan --output-on-failure -j "$(nproc)" -LE kernel
echo "== scenarios on a real Linux kernel (at ${SECONDS} s) =="
# Each batch boots Debian's kernel under QEMU (a few minutes in all); the first run fetches it.
ctest --test-dir build/native --output-on-failure -j "$(nproc)" -L kernel
echo "== Windows program under Wine (at ${SECONDS} s) =="
# All Wine tests in one process: they share one Xvfb and one Wine prefix, which is booted once.
# Screenshots of the dialogs land in build/native/wine-shots.
timeout 1200 build/native/brevant_tests --gtest_filter='Wine*' </dev/null
echo "== all passed in ${SECONDS} s =="
