#!/usr/bin/env bash
# Installs what is missing, builds and starts カエナミ.
source "$(dirname "$0")/tools/common.sh"
install_missing
build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "カエナミ is built (build/bin/kaenami), but there is no display to show its window on."
    echo "Start it from a desktop session, or under Xvfb: xvfb-run build/bin/kaenami"
    exit 1
fi
exec build/bin/kaenami
