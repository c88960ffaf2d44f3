#!/bin/sh
# start DIR: starts a virtual X server on a free display for the tests that
#   show a window, and writes its DISPLAY value to DIR/display.
# stop DIR: ends it.
set -e
action=$1 dir=$2
mkdir -p "$dir"
case "$action" in
  start)
    for n in $(seq 91 130); do
      [ -e "/tmp/.X$n-lock" ] && continue
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
      pid=$!
      echo $pid > "$dir/xvfb.pid"
      # Other builds on the machine start theirs from :91 too: the display is
      # ours only if our server holds its lock; one that lost the race exits,
      # and the socket it would see belongs to a server that another build
      # stops when its tests end.
      for _ in $(seq 50); do
        if [ -e "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' < "/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
          echo ":$n" > "$dir/display"; exit 0
        fi
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
      done
      kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    done
    echo "could not start Xvfb" >&2
    exit 1
    ;;
  stop)
    [ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid" "$dir/display"
    ;;
  *) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
