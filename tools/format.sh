#!/usr/bin/env bash
# Formats the project's own C++ sources in place with clang-format and the
# root .clang-format; with --check, changes nothing and lists the files
# that would change (exit 1 when there are any).
#   tools/format.sh [--check] [file ...]   (no file: every tracked source)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

check=0
if [[ "${1:-}" == "--check" ]]; then
  check=1
  shift
fi

formatter="${RIDOV_CLANG_FORMAT:-}"
if [[ -z "$formatter" ]]; then
  for candidate in clang-format-14 clang-format; do
    if command -v "$candidate" >/dev/null; then
      formatter="$candidate"
      break
    fi
  done
fi
if [[ -z "$formatter" ]]; then
  echo "format: clang-format not found (tools/setup/setup.sh installs it)" >&2
  exit 2
fi

# The tracked C and C++ sources, minus generated data tables.
list_sources() {
  git ls-files -- '*.cpp' '*.h' '*.inl' '*.c' | grep -v -x -F -f <(printf '%s\n' \
    game/StoredRandomTable.cpp)
}

files=("$@")
if ((${#files[@]} == 0)); then
  mapfile -t files < <(list_sources)
fi

if ((check == 0)); then
  printf '%s\0' "${files[@]}" | xargs -0 -n 32 -P 4 "$formatter" -i --style=file
  exit 0
fi

# Each file formatted to a pipe and compared; the names of those that differ.
printf '%s\0' "${files[@]}" | xargs -0 -n 16 -P 4 sh -c '
  for file; do
    "$0" --style=file "$file" | cmp -s - "$file" || echo "format: $file needs tools/format.sh"
  done' "$formatter" >"${TMPDIR:-/tmp}/ridov-format.$$"
report="${TMPDIR:-/tmp}/ridov-format.$$"
sort "$report"
if [[ -s "$report" ]]; then
  rm -f "$report"
  exit 1
fi
rm -f "$report"
