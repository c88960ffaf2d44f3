#!/bin/sh
# start PREFIX [DISPLAYFILE]: creates the private Wine prefix when missing and
#   keeps one wineserver alive, so that each test pays no cold Wine start.
#   With DISPLAYFILE (holding an X display such as :91) Wine's desktop starts
#   on that display: windows of the session can appear only where it lives.
# stop PREFIX: ends that wineserver and every Windows process left in it.
set -e
action=$1
[ -n "$3" ] && [ -f "$3" ] && export DISPLAY="$(cat "$3")"
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$action" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      mkdir -p "$WINEPREFIX"
      /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
      wineserver -w
    fi
    [ -f "$WINEPREFIX/system.reg" ] || { echo "could not create the Wine prefix $WINEPREFIX" >&2; exit 1; }
    # A server left by an earlier run may have its desktop elsewhere: start anew.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
    # Start Wine's own services now, detached from our output: started by the
    # first test instead, they would inherit its pipes and CTest would wait
    # for them until the test times out.
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
    # A Windows machine opens batch files through its own class, which the
    # launcher reads (never the user's); Wine's prefix has none.
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Classes\.bat' /ve /d batfile /f </dev/null >/dev/null 2>&1 || true
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Classes\batfile\shell\open\command' /ve /d '"%1" %*' /f \
      </dev/null >/dev/null 2>&1 || true
    ;;
  stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
