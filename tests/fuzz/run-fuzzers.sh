#!/usr/bin/env bash
# Runs the fuzz targets one after the other, each for SECONDS on a copy of its
# seed corpus (the work folder under BUILD, so the corpus in the repository
# does not grow), and writes each target's executions and coverage (libFuzzer's
# final "Done N runs" and "cov:" figures) to BUILD/fuzz-report.txt.
# A crash, a leak or a timeout makes libFuzzer exit non-zero: the run stops
# there with the target's log, and the input that did it is kept in
# BUILD/fuzz-work/TARGET/artifacts/.
#
#   tests/fuzz/run-fuzzers.sh BUILD [SECONDS] [TARGET...]
set -euo pipefail

build=${1:?usage: run-fuzzers.sh BUILD [SECONDS] [TARGET...]}
seconds=${2:-300}
shift $(($# < 2 ? $# : 2))
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(linefield labelparser config dcs network lt980 takubo ring packedtrace)

work="$build/fuzz-work"
report="$build/fuzz-report.txt"
mkdir -p "$work"
printf '%-12s %10s %8s %6s %7s %8s\n' target runs exec/s cov ft corpus >"$report"

# The last value of "NAME: value" in libFuzzer's status lines.
last() { grep -o "$1: *[0-9/]*[a-zA-Z]*" "$2" | tail -n 1 | sed "s|^$1: *||"; }

for target in "${targets[@]}"; do
    binary="$build/bin/fuzz_$target"
    folder="$work/$target"
    rm -rf "$folder"
    mkdir -p "$folder/corpus" "$folder/artifacts"
    cp "$here/corpus/$target/"* "$folder/corpus/"
    log="$folder/fuzz.log"
    echo "fuzz_$target: ${seconds} s"
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$folder/artifacts/" "$folder/corpus" \
        >"$log" 2>&1; then
        printf '%-12s FAILED, see %s\n' "$target" "$log" >>"$report"
        tail -n 80 "$log"
        echo "fuzz_$target FAILED; the input is in $folder/artifacts/" >&2
        exit 1
    fi
    runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n 1)
    printf '%-12s %10s %8s %6s %7s %8s\n' "$target" "${runs:-?}" "$(last exec/s "$log")" \
        "$(last cov "$log")" "$(last ft "$log")" "$(last corp "$log")" >>"$report"
done
cat "$report"
