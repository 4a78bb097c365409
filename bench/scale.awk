# Writes a Rime dictionary of `rows` body rows from a real one: the header as it is, then the body
# rows (comments dropped) repeated, with copy k's four-letter tag appended to every code, so that
# every row stays unique.
# Usage: awk -v rows=1000000 -f scale.awk wubi86.dict.yaml > big.dict.yaml
function tag(k,   text, i) {
  text = ""
  for (i = 0; i < 4; i++) {
    text = substr(LETTERS, k % 26 + 1, 1) text
    k = int(k / 26)
  }
  return text
}
BEGIN { FS = OFS = "\t"; LETTERS = "abcdefghijklmnopqrstuvwxyz" }
!in_body { print; if ($0 == "...") in_body = 1; next }
/^#/ || NF < 2 { next }
{ body[count++] = $0 }
END {
  for (written = 0; written < rows; written++) {
    fields = split(body[written % count], field, "\t")
    field[2] = field[2] tag(int(written / count))
    line = field[1]
    for (i = 2; i <= fields; i++) line = line OFS field[i]
    print line
  }
}
