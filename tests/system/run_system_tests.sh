#!/usr/bin/env bash
# Runs every tests/system/test_*.py against a Windows build folder that holds
# skiprail.exe, hook/srhook.dll and tools/srdrive.exe. Builds nothing. Prints
# unittest's summary ("Ran N tests", then "OK" or "FAILED (...)") and exits
# non-zero on any failure. The Linux PC's tests also need SKIPRAIL_LINUX_BUILD,
# the native build folder that holds unix/skiprail and tests/tools/xwatch (and
# wlwatch, for the Wayland desktops);
# without it they are skipped, saying so.
#   [SKIPRAIL_LINUX_BUILD=DIR] tests/system/run_system_tests.sh BUILD_DIR [more unittest options]
set -uo pipefail
if [ $# -lt 1 ] || [ ! -d "$1" ]; then
    echo "usage: $0 BUILD_DIR [unittest options]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
SKIPRAIL_BUILD=$(cd "$1" && pwd)
export SKIPRAIL_BUILD
shift
exec python3 -m unittest discover -s "$here" -t "$here" -p 'test_*.py' -v "$@"
