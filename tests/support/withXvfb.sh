#!/usr/bin/env bash
# withXvfb.sh COMMAND ARGS...: runs the command on a fresh virtual X server of 1024x768x24
# and exits with the command's own status. The server picks a free display itself
# (-displayfd), so servers started at the same time never collide, and nothing is left in
# /tmp but the server's own lock, which it removes.
set -u
fifo=$(mktemp -u)
mkfifo "$fifo" || exit 125
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" 2>/dev/null &
server=$!
display=$(head -n 1 "$fifo")
rm -f "$fifo"
if [ -z "$display" ]; then
  echo "withXvfb.sh: Xvfb did not start" >&2
  kill "$server" 2>/dev/null
  exit 125
fi
DISPLAY=":$display" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
