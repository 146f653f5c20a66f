#!/bin/sh
# Runs a Windows program under wine64 with a private prefix. The prefix
# lives under the build folder (QUILBO_WINEPREFIX, or ./wineprefix next to
# the program's folder) so tests never touch the user's own.
prog_dir=$(cd "$(dirname "$1")" && pwd)
: "${WINEPREFIX:=${QUILBO_WINEPREFIX:-$prog_dir/wineprefix}}"
export WINEPREFIX
export WINEDEBUG=-all
exec /usr/lib/wine/wine64 "$@"
