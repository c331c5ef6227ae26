#!/usr/bin/env bash
# krvw-tool end to end: import a label file, decode the reading file it wrote,
# and refuse files that are not reading files.
set -u
tool=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

"$tool" > /dev/null 2>&1
[ $? -eq 2 ] || fail "usage exit status"

[ $failures -eq 0 ] && echo "krvw-tool: all checks passed"
exit $((failures > 0))
