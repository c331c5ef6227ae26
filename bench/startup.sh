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

# The same idle measure with the 500 ms serial timer running (a Huvitz tracer
# on a pseudo-terminal linked under /dev, which needs root and python3).
if [ "$(id -u)" = 0 ] && command -v python3 > /dev/null; then
    kill "$pid" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    link=/dev/ttyKRVWBENCH$$
    python3 -c 'import os, sys, time
m, s = os.openpty()
os.symlink(os.ttyname(s), sys.argv[1])
try:
    time.sleep(60)
finally:
    os.unlink(sys.argv[1])' "$link" &
    holder=$!
    sleep 0.5
    printf 'MODELOTRACER=2\r\nPORTATCP=55555\r\nPORTASERIAL=%s\r\nBAUDRATE=9600\r\nCAMINHOLEITURA=\r\nNOMSG=0\r\n' \
        "$link" > "$work/ini/krvw.ini"
    "$work/krvw" &
    pid=$!
    sleep 2
    before=$(cpu)
    sleep 20
    after=$(cpu)
    awk -v d=$((after - before)) -v t="$ticks" 'BEGIN { printf "idle CPU with the serial timer, over 20 s: %.3f %% of a core\n", 100 * d / t / 20 }'
    kill "$holder" 2> /dev/null || true
    rm -f "$link" # SIGTERM skips the holder's own clean-up
fi
