#!/usr/bin/env bash
# The user guide cannot drift from the program. Every line "$ command" of its ```console blocks is
# run, in the guide's order, in one shell in a scratch folder holding a copy of the sample tables,
# with the built program as QoviraTableTool; the lines under it in the guide must be exactly what
# it printed. The ```sh blocks (installing, the manual page, removing) are run by
# tests/packages/run.sh on the built .deb; a fenced block of any other kind fails the test, so the
# guide quotes nothing that is not checked. The manual page must name every option of the usage
# text, and the guide and the manual page the project's contact address.
#
# Usage: guide_test.sh PROGRAM SOURCE_DIR
#   QOVIRA_UPDATE_GUIDE=1 writes what the commands printed into the guide instead of comparing.
# Skipped (77) without the zh_CN.UTF-8 locale: the guide shows the system's error texts in Chinese,
# as a Chinese desktop shows them (Debian: the locales and libc-l10n packages).
set -uo pipefail

program=$(realpath "$1")
source_dir=$(realpath "$2")
guide=$source_dir/docs/使用说明.md
manual=$source_dir/packaging/linux/QoviraTableTool.1.in
locale=$(locale -a 2>/dev/null | grep -ix 'zh_CN\.utf-\?8' | head -1)
if [[ -z $locale ]]; then
  echo "SKIP: the zh_CN.UTF-8 locale is not installed"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

passed=0
failed=0
fail() {
  failed=$((failed + 1))
  echo "FAIL: $*"
}

# --- the guide's blocks -------------------------------------------------------------------------
# For command N: command.N (the line after "$ "), line.N (its line in the guide), expected.N (the
# lines under it up to the next command or the end of the block). Wrong blocks go to problems.
mkdir "$work/plan"
awk -v plan="$work/plan" '
  /^[ \t]+```/ { print "line " NR ": an indented code block, which this test cannot read" > (plan "/problems") }
  /^```/ {
    inside = !inside
    kind = substr($0, 4)
    commands_in_block = 0
    if (inside && kind != "console" && kind != "sh") {
      print "line " NR ": a ```" kind " block (only console and sh blocks are checked)" > (plan "/problems")
    }
    next
  }
  inside && kind == "console" && substr($0, 1, 2) == "$ " {
    if (n > 0) { close(plan "/expected." n) }
    n++
    commands_in_block++
    printf "%s\n", substr($0, 3) > (plan "/command." n); close(plan "/command." n)
    printf "%d\n", NR > (plan "/line." n); close(plan "/line." n)
    printf "" > (plan "/expected." n)
    next
  }
  inside && kind == "console" {
    if (commands_in_block == 0) {
      print "line " NR ": a console block must start with a command line (\"$ ...\")" > (plan "/problems")
    } else {
      printf "%s\n", $0 > (plan "/expected." n)
    }
  }
  END { print n + 0 > (plan "/count") }
' "$guide"
count=$(cat "$work/plan/count")
if [[ -s $work/plan/problems ]]; then
  while IFS= read -r problem; do
    fail "$problem"
  done < "$work/plan/problems"
fi
if ((count < 5)); then
  fail "the guide has only $count command lines in console blocks"
fi

# --- one shell session over every command -------------------------------------------------------
mkdir -p "$work/bin" "$work/home" "$work/样例" "$work/actual"
ln -s "$program" "$work/bin/QoviraTableTool"
cp "$source_dir"/samples/* "$work/样例/"
{
  echo 'cd "$SAMPLES" || exit 1'
  for ((i = 1; i <= count; i++)); do
    printf '{ %s\n} > "$ACTUAL/%d" 2>&1\n' "$(cat "$work/plan/command.$i")" "$i"
  done
} > "$work/session.sh"
env -i PATH="$work/bin:/usr/bin:/bin" HOME="$work/home" LANG="$locale" LC_ALL="$locale" \
  SAMPLES="$work/样例" ACTUAL="$work/actual" bash "$work/session.sh" < /dev/null

if [[ ${QOVIRA_UPDATE_GUIDE:-} == 1 ]]; then
  awk -v plan="$work/plan" -v actual="$work/actual" '
    /^```/ { inside = !inside; kind = substr($0, 4); skipping = 0; print; next }
    inside && kind == "console" && substr($0, 1, 2) == "$ " {
      print
      n++
      file = actual "/" n
      while ((getline line < file) > 0) { print line }
      close(file)
      skipping = 1
      next
    }
    inside && kind == "console" && skipping { next }
    { print }
  ' "$guide" > "$work/guide.md" && cp "$work/guide.md" "$guide"
  echo "wrote the outputs of $count commands into $guide"
fi

for ((i = 1; i <= count; i++)); do
  if cmp -s "$work/plan/expected.$i" "$work/actual/$i"; then
    passed=$((passed + 1))
  else
    fail "line $(cat "$work/plan/line.$i"): \`$(cat "$work/plan/command.$i")\` printed other than the guide shows:"
    diff -u --label guide --label program "$work/plan/expected.$i" "$work/actual/$i" | head -40
  fi
done

# --- the manual page and the contact address ----------------------------------------------------
for option in $("$program" --help | grep -o -- '--[a-z-]*' | sort -u) --out --help; do
  if grep -qF -- "${option//-/\\-}" "$manual"; then
    passed=$((passed + 1))
  else
    fail "the manual page does not describe $option"
  fi
done
contact=$(sed -nE 's/^set\(QOVIRA_CONTACT_ADDRESS "([^"]+)"\)/\1/p' "$source_dir/CMakeLists.txt")
if [[ -n $contact ]] && grep -qF "$contact" "$guide" && grep -qF "@QOVIRA_CONTACT_ADDRESS@" "$manual"; then
  passed=$((passed + 1))
else
  fail "the guide or the manual page does not give the contact address ${contact:-(none in CMakeLists.txt)}"
fi

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
