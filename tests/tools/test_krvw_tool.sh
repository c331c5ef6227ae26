#!/usr/bin/env bash
# krvw-tool end to end: import a label file, decode the reading file it wrote,
# show its measures and draw its picture, the same for a reading with drill
# holes made with `encode`, the reading of each protocol drawn, and refuse
# files that are not reading files and tracings that lost an outline.
set -u
tool=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A failed save keeps its reading under the home folder: a scratch one.
export HOME=$work/home
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

out=$("$tool" import "$data/reading/realistic.labels" "$work") || fail "import exit status $?"
[ "$out" = "$work/815.krvw" ] || fail "import printed '$out'"
"$tool" decode "$work/815.krvw" > "$work/plain" || fail "decode exit status $?"
cmp -s "$work/plain" "$data/reading/realistic.expected" || fail "decoded text differs"

printf 'not a reading' > "$work/short.krvw"
if "$tool" decode "$work/short.krvw" > "$work/out" 2> "$work/err"; then fail "short file accepted"; fi
grep -q 'not a valid reading file' "$work/err" || fail "no clear error for a short file"
[ -s "$work/out" ] && fail "output for a short file"

head -c 32 /dev/zero > "$work/zeros.krvw"
if "$tool" decode "$work/zeros.krvw" > /dev/null 2> "$work/err"; then fail "bad padding accepted"; fi
grep -q 'padding' "$work/err" || fail "no padding error"

if "$tool" decode "$work/none.krvw" 2> /dev/null; then fail "missing file accepted"; fi

if "$tool" import "$data/reading/realistic.labels" "$work/missing" > /dev/null 2> "$work/err"; then
    fail "import into a missing folder succeeded"
fi
grep -q 'Não foi possível gravar os dados da leitura' "$work/err" || fail "no save message"
cmp -s "$HOME/krvw/pendentes/815.krvw" "$work/815.krvw" || fail "the refused reading was not kept"

# Tracings that lost an eye's outline: refused with the reason, nothing written.
for labels in short-list:'Olho direito: a quantidade' format-6:'Olho esquerdo: o formato' \
              no-eye:'nenhum olho'; do
    mkdir "$work/${labels%%:*}"
    if "$tool" import "$data/reading/${labels%%:*}.labels" "$work/${labels%%:*}" > /dev/null 2> "$work/err"; then
        fail "import of ${labels%%:*} succeeded"
    fi
    grep -q "${labels#*:}" "$work/err" || fail "import of ${labels%%:*}: $(cat "$work/err")"
    [ -z "$(ls -A "$work/${labels%%:*}")" ] || fail "import of ${labels%%:*} wrote a file"
done

"$tool" > /dev/null 2>&1
[ $? -eq 2 ] || fail "usage exit status"

# The value of LABEL in a golden plain text (CR LF lines), and its ';' field N.
golden() { grep -a "^$2=" "$1" | head -n 1 | tr -d '\r' | cut -d= -f2- | cut -d';' -f"$3"; }
# The row of `show` whose name holds TEXT.
row() { grep -F -- "$2" "$1" | head -n 1; }

# show: each figure as the reading file holds it.
check_show() {
    local plain=$1 shown=$2 label name
    for label in HBOX VBOX _DIAG; do
        name="($label, mm)"
        echo "$(row "$shown" "$name")" | grep -Eq -- " $(golden "$plain" $label 1) +$(golden "$plain" $label 2)\$" ||
            fail "show: $label is not $(golden "$plain" $label 1) / $(golden "$plain" $label 2)"
    done
    row "$shown" "(DBL, mm)" | grep -Eq " $(golden "$plain" DBL 1)\$" || fail "show: DBL"
    row "$shown" "radii (TRCFMT)" | grep -Eq ' 1000 +1000$' || fail "show: radius counts"
    row "$shown" "z values (ZFMT)" | grep -Eq ' 1000 +1000$' || fail "show: z counts"
    local vendor model
    vendor=$(golden "$plain" VENDOR 1-)
    model=$(golden "$plain" MODEL 1-)
    row "$shown" "vendor (VENDOR)" | grep -Eq " ${vendor:--}\$" || fail "show: vendor '$vendor'"
    row "$shown" "model (MODEL)" | grep -Eq " ${model:--}\$" || fail "show: model '$model'"
    [ "$(grep -c '^drill hole (DRILLE)' "$shown")" = "$(grep -ac '^DRILLE=' "$plain")" ] ||
        fail "show: drill hole lines"
    grep -a '^DRILLE=' "$plain" | tr -d '\r' | cut -d= -f2- | while read -r hole; do
        grep -qF -- " $hole" "$shown" || echo "missing $hole"
    done | grep -q . && fail "show: a drill hole is missing"
}

# render: a 512 x 256 RGB PNG whose zlib stream holds the 256 rows of 1 + 512 * 3
# bytes in stored blocks: 8 (signature) + 25 (IHDR) + 12 + 2 + 7 * 5 + 393472 + 4
# (IDAT) + 12 (IEND) = 393570 bytes.
check_png() {
    local png=$1
    [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
        fail "render: $png has no PNG signature"
    [ "$(head -c 29 "$png" | tail -c 21 | od -An -tx1 | tr -d ' \n')" = \
      "0000000d4948445200000200000001000802000000" ] || fail "render: $png header is not 512 x 256 RGB"
    [ "$(stat -c %s "$png")" = 393570 ] || fail "render: $png is $(stat -c %s "$png") bytes"
}

"$tool" show "$work/815.krvw" > "$work/shown" || fail "show exit status $?"
check_show "$data/reading/realistic.expected" "$work/shown"
"$tool" render "$work/815.krvw" "$work/815.png" || fail "render exit status $?"
check_png "$work/815.png"

# A networked reading with drill holes, enciphered from its golden text.
"$tool" encode "$data/serial/network-drill.expected" "$work/drill.krvw" || fail "encode exit status"
"$tool" decode "$work/drill.krvw" | cmp -s - "$data/serial/network-drill.expected" ||
    fail "encode does not give back the plain text"
"$tool" show "$work/drill.krvw" > "$work/shown-drill" || fail "show (drill) exit status $?"
check_show "$data/serial/network-drill.expected" "$work/shown-drill"
[ "$(grep -c '^drill hole' "$work/shown-drill")" = 2 ] || fail "show: two drill holes expected"
"$tool" render "$work/drill.krvw" "$work/drill.png" || fail "render (drill) exit status $?"
check_png "$work/drill.png"

# The reading each protocol's capture saves, drawn.
for golden in lt980 takubomatic huvitz network; do
    "$tool" encode "$data/serial/$golden.expected" "$work/$golden.krvw" || fail "encode $golden"
    "$tool" render "$work/$golden.krvw" "$work/$golden.png" || fail "render $golden exit status $?"
    check_png "$work/$golden.png"
done

# Damaged files: a clear message on stderr, status 1, no output file.
refused() { # EXPECTED-MESSAGE COMMAND...
    local expected=$1
    shift
    "$@" > "$work/out" 2> "$work/err"
    local status=$?
    [ $status -eq 1 ] || fail "$* exit status $status, expected 1"
    grep -q -- "$expected" "$work/err" || fail "$*: no '$expected' on stderr: $(cat "$work/err")"
}
head -c 100 "$work/815.krvw" > "$work/cut.krvw" # not a multiple of 16
head -c 4096 /dev/zero > "$work/zero.krvw"      # padding byte 0 after deciphering
printf 'CIRC=1;1\r\n' > "$work/plain-short"       # no DBL, HBOX, ... lines
"$tool" encode "$work/plain-short" "$work/notreading.krvw" || fail "encode of a short text"
head -c 100001 /dev/zero > "$work/long.krvw"
for command in show render; do
    output=()
    [ $command = render ] && output=("$work/out.png")
    refused "is not a valid reading file: its length (100 bytes)" "$tool" $command "$work/cut.krvw" "${output[@]}"
    refused "its padding is invalid" "$tool" $command "$work/zero.krvw" "${output[@]}"
    refused "is not a reading: its plain text has no DBL line" "$tool" $command "$work/notreading.krvw" "${output[@]}"
    refused "longer than 100000 bytes" "$tool" $command "$work/long.krvw" "${output[@]}"
    refused "cannot read" "$tool" $command "$work/none.krvw" "${output[@]}"
done
[ -e "$work/out.png" ] && fail "render wrote a picture of a damaged file"
refused "cannot write" "$tool" render "$work/815.krvw" "$work/missing/out.png"
"$tool" show "$work/815.krvw" extra > /dev/null 2>&1
[ $? -eq 2 ] || fail "show with an extra argument: usage exit status"

[ $failures -eq 0 ] && echo "krvw-tool: all checks passed"
exit $((failures > 0))
