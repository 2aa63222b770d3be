#!/usr/bin/env bash
# Checks the layer rule on the #include lines of src/: engine <- imagefile <- (applogic, cli);
# app may use every library; nothing includes upward or sideways, and only app includes Qt.
#   tests/layer_rule.sh [SRC folder, default: the src/ beside this script's folder]
# Prints each offending line as FILE:LINE: text and exits 1 when there is any.
set -euo pipefail

src=${1:-"$(dirname "$0")/../src"}

# The folders of src/ each layer may include from ("engine/...", "imagefile/...").
declare -A allowed=(
  [engine]="engine"
  [imagefile]="engine imagefile"
  [applogic]="engine imagefile applogic"
  [cli]="engine imagefile cli"
  [app]="engine imagefile applogic app"
)
qt_allowed=" app "

failed=0
complain() {
  echo "$1" >&2
  failed=1
}

for dir in "$src"/*/; do
  layer=$(basename "$dir")
  if [ -z "${allowed[$layer]+set}" ]; then
    complain "src/$layer: a folder without a layer rule; add it to tests/layer_rule.sh"
    continue
  fi
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    text=${rest#*:}
    where="src/$layer/${file#"$dir"}:$line: $text"
    # "folder/..." names a layer; a name without a folder is a header of the same folder.
    if [[ $text =~ \#[[:space:]]*include[[:space:]]*\"([^\"]*)\" ]]; then
      name=${BASH_REMATCH[1]}
      if [[ $name == ..* || $name == */../* ]]; then
        complain "$where: include by a path that climbs out of the folder"
      elif [[ $name == */* ]]; then
        target=${name%%/*}
        if [ -n "${allowed[$target]+set}" ] && [[ " ${allowed[$layer]} " != *" $target "* ]]; then
          complain "$where: $layer may not include from $target"
        fi
      fi
    elif [[ $text =~ \#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*|qt)[^\>]*\> ]]; then
      if [[ $qt_allowed != *" $layer "* ]]; then
        complain "$where: $layer may not use Qt"
      fi
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' "$dir" || true)
done

if [ "$failed" -ne 0 ]; then
  echo "layer rule broken: engine <- imagefile <- (applogic, cli); app uses all" >&2
  exit 1
fi
echo "layer rule kept in $(find "$src" -name '*.h' -o -name '*.cpp' | wc -l) files"
