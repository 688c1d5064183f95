#!/usr/bin/env bash
# Reads the includes of every source file of src/ and fails when a folder includes a header of a
# folder above it. The order, lowest first (folders on one line of the order may not include
# one another):
#   outside, core, session, sendqueue, viewer, imagestore, masterdata, {acquisition, dicomnet},
#   transactions, app; cli over outside only.
# Then reads the link lines: each folder's library links exactly the folders its files include,
# and each tests/<folder> links its folder's library and libraries below it only.
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

# The folders named by orv_<name> libraries on the link lines of a CMakeLists.txt (the DICOM data
# library is part of outside), leaving out the target the line is for.
linked_folders() {
  tr '\n' ' ' < "$1" | grep -o 'target_link_libraries([^)]*)' \
    | sed -E 's/target_link_libraries\([[:space:]]*[^[:space:]]+//' | grep -o 'orv_[a-z]*' \
    | sed -e 's/^orv_//' -e 's/^dicomdata$/outside/' | sort -u
}

for dir in "$root"/src/*/; do
  folder=$(basename "$dir")
  [[ -n ${rank[$folder]:-} && $folder != outside && $folder != cli ]] || continue
  included=$(find "$dir" -name '*.cpp' -o -name '*.h' | xargs sed -n \
               's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\)\/.*/\1/p' \
             | while read -r t; do [[ -n ${rank[$t]:-} && $t != "$folder" ]] && echo "$t"; done | sort -u)
  linked=$(linked_folders "$dir/CMakeLists.txt")
  if [[ "$included" != "$linked" ]]; then
    echo "src/$folder/ includes {$(echo $included)} but links {$(echo $linked)}"
    bad=1
  fi
done

for dir in "$root"/tests/*/; do
  folder=$(basename "$dir")
  [[ -n ${rank[$folder]:-} && -f $dir/CMakeLists.txt ]] || continue
  for lib in $(grep -ho 'orv_[a-z]*' "$dir"/CMakeLists.txt | sed -e 's/^orv_//' | sort -u); do
    [[ -n ${rank[$lib]:-} && $lib != "$folder" ]] || continue
    if (( rank[$lib] > rank[$folder] )); then
      echo "tests/$folder/ links orv_$lib, which is above $folder/"
      bad=1
    fi
  done
done

if ((bad)); then echo "upward includes or link lines that differ from the includes found"; exit 1; fi
echo "includes and link lines follow the layer order"
