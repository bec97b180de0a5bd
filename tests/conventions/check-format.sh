#!/usr/bin/env bash
# Fails, naming the files, when a C++ source of the project is not laid out as the root's
# .clang-format says. Mend with: clang-format -i FILE
set -uo pipefail
cd "$(dirname "$0")/../.."
mapfile -t files < <(find Common_Code config qem engine framework gfx app tests tools bench \
  -type f \( -name '*.cpp' -o -name '*.h' \) -not -path '*/corpus/*' | sort)
clang-format --dry-run --Werror "${files[@]}" >/dev/null 2>&1 && { echo "${#files[@]} sources formatted"; exit 0; }
bad=()
for file in "${files[@]}"; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad+=("$file")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted (clang-format -i to mend):"
  printf '  %s\n' "${bad[@]}"
fi
exit 1
