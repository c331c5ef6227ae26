#!/usr/bin/env bash
# Start-up and idle cost of the program with the default configuration (a
# networked tracer on TCP 55555), on Qt's offscreen platform:
#   time from start to listening, CPU while idle for 20 s, resident memory.
set -eu
program=$(readlink -f "$1")
port=55555
work=$(mktemp -d)
trap 'kill "$pid" 2> /dev/null || true; rm -rf "$work"' EXIT
cp "$program" "$work/krvw"
mkdir -p "$work/ini" "$work/xdg" && chmod 700 "$work/xdg"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/xdg

listening() { (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; }
if listening; then
    echo "port $port is already in use; stop what listens there first" >&2
    exit 1
fi
start=$(date +%s%N)
"$work/krvw" &
pid=$!
until listening; do
    kill -0 "$pid" 2> /dev/null || { echo "the program ended" >&2; exit 1; }
    sleep 0.002
done
ready=$(date +%s%N)
echo "start-up to listening: $(( (ready - start) / 1000000 )) ms"

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
sleep 1
before=$(cpu)
sleep 20
after=$(cpu)
awk -v d=$((after - before)) -v t="$ticks" 'BEGIN { printf "idle CPU over 20 s: %.3f %% of a core\n", 100 * d / t / 20 }'
grep VmRSS "/proc/$pid/status" | awk '{printf "resident memory: %.1f MB\n", $2 / 1024}'
