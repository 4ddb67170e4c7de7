#!/usr/bin/env bash
# Fails, listing them, when C++ files of the tree do not follow .clang-format (clang-format 14, Debian's).
#   scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' ':!third_party') # vendored sources keep their own style
bad=()
for f in "${files[@]}"; do
    clang-format-14 --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
    echo "Not formatted (run clang-format-14 -i on them):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
