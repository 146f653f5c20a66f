#!/bin/sh
# Runs a Windows program under wine with a private prefix:
#   wine-run.sh prog.exe args...
#   wine-run.sh --init        creates the prefix, starts its server, returns
#   wine-run.sh --stop        ends the prefix's wine server
# QUILBO_WINEARCH picks the wine: win64 (the default; wine64, package
# wine64) or win32 (the 32-bit wine, package wine32:i386, in a 32-bit
# prefix: no 64-bit part is involved in running a 32-bit program).
# The prefix is $QUILBO_WINEPREFIX, or ./wineprefix in the program's folder,
# so tests never touch the user's own. The first start of wine creates the
# prefix (a few seconds); that happens once, under a lock, so programs
# started in parallel do not race on it.
#
# The ANSI and OEM code pages that wine gives a program follow the Unix
# locale: C.UTF-8 gives 1252 and 437, as on an English Windows, and lets
# wine reach Unix names with bytes above 0x7F (plain "C" does not). Another
# locale installed on the machine (ru_RU, ja_JP...) would change the code
# pages, so the locale is fixed here.
set -u

case ${QUILBO_WINEARCH:-win64} in
  win64) wine=/usr/lib/wine/wine64 package=wine64 ;;
  win32) wine=/usr/lib/wine/wine package=wine32:i386
         export WINEARCH=win32 ;;
  *) echo "wine-run.sh: QUILBO_WINEARCH must be win32 or win64" >&2; exit 2 ;;
esac
# Either server serves either kind of program; the 64-bit one when there.
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver32
if [ ! -x "$wine" ]; then
  echo "wine-run.sh: $wine not found (Debian package $package)" >&2
  exit 127
fi

mode=run
case "${1:-}" in
  --init) mode=init ;;
  --stop) mode=stop ;;
  "") echo "usage: wine-run.sh prog.exe [args...] | --init | --stop" >&2; exit 2 ;;
esac

if [ -n "${QUILBO_WINEPREFIX:-}" ]; then
  WINEPREFIX=$QUILBO_WINEPREFIX
elif [ "$mode" = run ]; then
  WINEPREFIX=$(cd "$(dirname "$1")" && pwd)/wineprefix
else
  echo "wine-run.sh: $1 needs QUILBO_WINEPREFIX" >&2
  exit 2
fi
export WINEPREFIX
export WINEDEBUG=-all
export LC_ALL=C.UTF-8 LANG=C.UTF-8
unset LANGUAGE
# No desktop here: keep wine from trying to reach a display.
unset DISPLAY WAYLAND_DISPLAY

if [ "$mode" = stop ]; then
  [ -d "$WINEPREFIX" ] && "$wineserver" -k 2>/dev/null
  exit 0
fi

ready=$WINEPREFIX/.quilbo-ready
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$ready" ]; then
    # wineboot prints a line about the prefix and, on a wine64-only
    # installation, one about the missing 32-bit rundll32: both harmless.
    "$wine" wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1 9>&-
    rc=$?
    if [ $rc -ne 0 ]; then
      echo "wine-run.sh: creating the prefix $WINEPREFIX failed ($rc):" >&2
      cat "$WINEPREFIX.log" >&2
      exit $rc
    fi
    touch "$ready"
  fi
  # Keep one wine server (and wine's background programs) up between runs.
  # Without it every run starts them anew, and they inherit that run's
  # standard output and error: whoever reads those pipes then waits for
  # them to exit, about 3 s per run. Started here, they hold /dev/null.
  # The exit status is 0 only when no server was running for the prefix.
  # Neither may keep the lock (fd 9) or the caller's pipes open.
  if "$wineserver" -p"${QUILBO_WINE_PERSIST:-60}" </dev/null >/dev/null 2>&1 9>&-; then
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock" || exit $?

[ "$mode" = init ] && exit 0
exec "$wine" "$@"
