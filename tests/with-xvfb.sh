#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb server (1280x1024x24), started with
# -displayfd so parallel runs never clash on a display number; the server is stopped
# afterwards and the command's exit status returned. -noreset: by default the server
# resets whenever its last client leaves, and a program connecting during that reset (the
# next test, started the moment the previous one ended) is refused its display.
set -uo pipefail

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
display=$(timeout 20 head -n 1 "$fifo")
rm -f "$fifo"
if [ -z "$display" ]; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"
"$@"
status=$?
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
exit $status
