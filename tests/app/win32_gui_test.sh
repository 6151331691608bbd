#!/bin/sh
# Runs a Windows GUI test program under Wine on a virtual X display, in a Wine prefix of
# its own. Wine's desktop lives on the display of the program that started its server:
# a server shared with programs started without a display, or one that outlives the
# display, makes every later window creation fail. So the prefix is the test's own and its
# server is stopped before the display goes.
# Usage: win32_gui_test.sh WINE_PREFIX PROGRAM.exe [ARGUMENTS...]
set -u
if [ $# -lt 2 ]; then
    echo "usage: $0 WINE_PREFIX PROGRAM.exe [ARGUMENTS...]" >&2
    exit 2
fi
WINEPREFIX=$1
shift
export WINEPREFIX
root=$(cd "$(dirname "$0")/../.." && pwd)
run="$root/scripts/wine-run"

# Without a window manager on the display, Wine waits 2 seconds for one to withdraw every
# window it hides; windows Wine manages itself need no such wait.
marker="$WINEPREFIX/.corvane-unmanaged"
if [ ! -e "$marker" ]; then
    if "$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1; then
        touch "$marker"
    fi
    wineserver -w  # the registry is written when the server ends
fi

exec xvfb-run -a sh -c '"$0" "$@"; status=$?; wineserver -k; wineserver -w; exit $status' \
    "$run" "$@"
