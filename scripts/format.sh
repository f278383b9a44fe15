#!/usr/bin/env bash
# Reformats the product's C++ sources (app, ui, manifest, common, install, banner, platform, tools)
# in place with the repository's .clang-format. With --check nothing is written: every file that
# differs is named and the exit status is 1.
set -euo pipefail
cd "$(dirname "$0")/.."

folders=(app ui manifest common install banner platform tools)
mapfile -t files < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
format=$(command -v clang-format || command -v clang-format-14)

if [[ "${1:-}" == "--check" ]]; then
  differ=0
  for file in "${files[@]}"; do
    if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
      echo "differs from .clang-format: $file"
      differ=$((differ + 1))
    fi
  done
  echo "$differ of ${#files[@]} product files differ from .clang-format"
  [[ $differ -eq 0 ]]
else
  "$format" -i "${files[@]}"
  echo "reformatted ${#files[@]} product files"
fi
