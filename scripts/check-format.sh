#!/usr/bin/env bash
# Fails, naming the files, when a tracked .cpp or .h file differs from what clang-format makes of
# it with the tree's .clang-format. `clang-format -i FILE` mends a file.
set -euo pipefail
cd "$(dirname "$0")/.."
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' files < <(git ls-files -z -- '*.cpp' '*.h')
else
    mapfile -d '' files < <(find . -path ./build -prune -o \( -name '*.cpp' -o -name '*.h' \) -print0)
fi
differ=()
for f in "${files[@]}"; do
    [ -f "$f" ] || continue
    clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || differ+=("$f")
done
if [ ${#differ[@]} -gt 0 ]; then
    echo "check-format: these files differ from .clang-format (clang-format -i FILE mends one):" >&2
    printf '  %s\n' "${differ[@]}" >&2
    exit 1
fi
echo "check-format: ${#files[@]} files as .clang-format has them"
