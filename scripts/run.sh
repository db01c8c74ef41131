#!/usr/bin/env bash
# Starts the program from a build folder. On a machine without a display it
# says so instead of failing obscurely.
set -euo pipefail
dir=$1; shift || true
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found (DISPLAY is unset). Run under a desktop session, or e.g." >&2
  echo "     xvfb-run -a make run   or   QT_QPA_PLATFORM=offscreen make run ARGS='--type 五 --print-state --exit-when-idle'" >&2
  exit 1
fi
exec "$dir/app/zivorna" "$@"
