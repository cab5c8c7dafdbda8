#!/usr/bin/env bash
# Builds the native tree (build/native), the sanitizer tree (build/asan) and the Windows tree
# (build/win32). Pass the names of the trees to build only those.
set -euo pipefail
cd "$(dirname "$0")/.."
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(native asan win32)
jobs=$(nproc)
source scripts/compiler-cache.sh
for t in "${trees[@]}"; do
    case "$t" in
        native) cmake -S . -B build/native -G Ninja "${cache_args[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ;;
        asan)   cmake -S . -B build/asan -G Ninja "${cache_args[@]}" -DCMAKE_BUILD_TYPE=Debug -DBREVANT_SANITIZE=ON >/dev/null ;;
        win32)  cmake -S . -B build/win32 -G Ninja "${cache_args[@]}" -DCMAKE_BUILD_TYPE=MinSizeRel \
                    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null ;;
        *) echo "unknown tree: $t" >&2; exit 2 ;;
    esac
    cmake --build "build/$t" -j "$jobs"
done
