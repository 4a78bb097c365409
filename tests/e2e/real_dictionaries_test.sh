#!/usr/bin/env bash
# Debian's real Rime dictionaries, end to end: whenever a direct --export-mb of a dictionary gives
# a .mb, a --rescue of it must give the very same bytes (the repair loses and reorders nothing).
# Packages that cannot be fetched are left out; skips (77) when none can be.
# Usage: real_dictionaries_test.sh PROGRAM SOURCE_DIR
set -uo pipefail

program=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Debian's packages of the wubi, cangjie, quick, array, luna pinyin and stroke dictionaries.
packages=(rime-data-wubi rime-data-cangjie5 rime-data-quick5 rime-data-array30
  rime-data-luna-pinyin rime-data-stroke)
# Where the unit tests keep the packages they unpacked.
cache=/tmp/qovira-test-data

# The unpacked tree of a package, or nothing when it cannot be fetched.
unpacked() {
  local package=$1
  if [[ -d $cache/$package/usr/share/rime-data ]]; then
    echo "$cache/$package"
    return
  fi
  mkdir -p "fetch/$package"
  if (cd "fetch/$package" && apt-get download "$package" >/dev/null 2>&1 &&
    dpkg-deb -x "$package"_*.deb tree >/dev/null 2>&1); then
    echo "$work/fetch/$package/tree"
  fi
}

checked=0
failed=0
for package in "${packages[@]}"; do
  tree=$(unpacked "$package")
  if [[ -z $tree ]]; then
    echo "skip $package: cannot be fetched here"
    continue
  fi
  while IFS= read -r -d '' dict; do
    name=$(basename "$dict")
    case_dir=$work/$package/$name
    mkdir -p "$case_dir/direct" "$case_dir/rescued"
    cp "$dict" "$case_dir/$name"
    "$program" --export-mb "$case_dir/$name" --out "$case_dir/direct" >"$case_dir/direct.out" 2>&1
    "$program" --rescue "$case_dir/$name" --out "$case_dir/rescued" >"$case_dir/rescue.out" 2>&1
    direct=$(find "$case_dir/direct" -name '*.mb')
    rescued=$(find "$case_dir/rescued" -name '*.mb')
    checked=$((checked + 1))
    if [[ -z $direct ]]; then
      echo "---- $package $name: no direct export, nothing to compare"
    elif [[ -z $rescued ]]; then
      echo "FAIL $package $name: the direct export gave a .mb, the rescue none"
      sed 's/^/     | /' "$case_dir/rescue.out"
      failed=$((failed + 1))
    elif ! difference=$(cmp "$direct" "$rescued" 2>&1); then
      echo "FAIL $package $name: the rescued .mb differs from the direct one: $difference"
      head -40 "$case_dir/rescue.out" | sed 's/^/     | /'
      failed=$((failed + 1))
    else
      echo "ok   $package $name: $(stat -c %s "$direct") bytes, identical"
    fi
  done < <(find "$tree" -name '*.dict.yaml' -print0 | sort -z)
done

if ((checked == 0)); then
  echo "no dictionary could be fetched: skipped"
  exit 77
fi
echo "$checked dictionaries, $failed failed"
[[ $failed == 0 ]]
