#!/usr/bin/env bash
# Checks that every tracked C++ file is formatted as .clang-format says.
# Lists the files that are not and exits non-zero; with --fix, formats them.
#   scripts/format-check.sh         check
#   scripts/format-check.sh --fix   rewrite the files that differ
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "clang-format (14) is not installed: scripts/install-deps.sh installs it" >&2; exit 2; }

bad=()
while IFS= read -r file; do
  "$format" --style=file "$file" | cmp -s - "$file" || bad+=("$file")
done < <(git ls-files -- '*.cpp' '*.h')

if [ ${#bad[@]} -eq 0 ]; then
  echo "formatting: all files as .clang-format says"
  exit 0
fi
if [ "${1:-}" = --fix ]; then
  "$format" --style=file -i "${bad[@]}"
  printf 'formatted %s\n' "${bad[@]}"
  exit 0
fi
echo "not formatted as .clang-format says (scripts/format-check.sh --fix rewrites them):"
printf '  %s\n' "${bad[@]}"
exit 1
