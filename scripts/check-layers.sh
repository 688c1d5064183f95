#!/usr/bin/env bash
# Reads the includes of every source file of src/ and fails when a folder includes a header of a
# folder above it. The order, lowest first (folders on one line of the order may not include
# one another):
#   outside, core, session, sendqueue, viewer, imagestore, masterdata, {acquisition, dicomnet},
#   transactions, app; cli over outside only.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
declare -A rank=([outside]=0 [core]=1 [session]=2 [sendqueue]=3 [viewer]=4 [imagestore]=5
                 [masterdata]=6 [acquisition]=7 [dicomnet]=7 [transactions]=8 [app]=9 [cli]=1)
bad=0
while IFS= read -r -d '' file; do
  rel=${file#"$root"/src/}
  folder=${rel%%/*}
  [[ -n ${rank[$folder]:-} ]] || continue
  while IFS= read -r target; do
    [[ -n ${rank[$target]:-} && $target != "$folder" ]] || continue
    if (( rank[$target] >= rank[$folder] )); then
      echo "src/$rel includes $target/, which is not below $folder/"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' "$file")
done < <(find "$root/src" -name '*.cpp' -print0 -o -name '*.h' -print0)
if ((bad)); then echo "upward includes found"; exit 1; fi
echo "includes follow the layer order"
