#!/usr/bin/env bash
# Starts the program the way a desktop does; without a display it says so and
# runs on a virtual X display (Xvfb) when there is one, else on Qt's offscreen
# platform, so that a networked tracer can still be served.
set -eu
program=$1
mkdir -p "$(dirname "$program")/ini"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$program"
fi
if command -v xvfb-run > /dev/null 2>&1; then
    echo "krvw: no display; running on a virtual X display (Xvfb). Stop it with Ctrl+C." >&2
    exec xvfb-run -a "$program"
fi
echo "krvw: no display; running on Qt's offscreen platform (nothing is shown). Stop it with Ctrl+C." >&2
export QT_QPA_PLATFORM=offscreen
runtime=${XDG_RUNTIME_DIR:-/tmp/krvw-runtime-$(id -u)}
mkdir -p "$runtime" && chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
exec "$program"
