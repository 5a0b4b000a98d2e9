#!/usr/bin/env bash
# Runs a program on a virtual X display (Xvfb), with Qt's X11 platform:
#   run_on_virtual_display.sh PROGRAM [ARGUMENT]...
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
if ! command -v xvfb-run > /dev/null; then
  echo "xvfb-run is missing (install xvfb)" >&2
  exit 1
fi
export QT_QPA_PLATFORM=xcb
export LSAN_OPTIONS="suppressions=$here/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
