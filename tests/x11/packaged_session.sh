#!/usr/bin/env bash
# The packaged example greet_app started as a user starts it, on the X
# display of the caller (run it through run_on_virtual_display.sh): its
# session window appears at the input request, titled with the package's
# name; a name is typed into it with real key events from the X server,
# and the greeting is read back from the window's text when the
# application ends (after an empty line).
#   packaged_session.sh GREET_APP
set -u
app=$1
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
export HOME="$dir" ZEMA_TEST_SESSION_DUMP="$dir/window" ZEMA_TEST_MESSAGE_LOG="$dir/boxes"
# Under the leak checker the program's standard error must stay as quiet.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}print_suppressions=0"
fail=0
# Starts the package; sets pid and window (its visible session window).
start() {
  "$app" 2> "$dir/err" &
  pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --name '^greet_app$' | head -n 1)
  if [ -z "$window" ]; then
    echo "FAIL no visible window titled greet_app"
    exit 1
  fi
  xdotool windowfocus --sync "$window"
}
# Waits up to 10 s for the program to end; sets status.
ended() {  # WHAT
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL the program still runs after $1"
    exit 1
  fi
  wait "$pid"
  status=$?
}
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
    fail=1
  fi
}

start
xdotool type --delay 15 "World"
xdotool key Return
# The second request: the window stays up and takes the empty line that ends
# the application.
sleep 0.5
xdotool windowfocus --sync "$window"
xdotool key Return
ended "the empty line"
check status 0 "$status"
check window "$(printf 'What is your name? (an empty line ends)\nWorld\nHello, World\n')" "$(cat "$dir/window" 2>/dev/null)"
check boxes "" "$(cat "$dir/boxes" 2>/dev/null)"
check stderr "" "$(cat "$dir/err")"

# Exit from the File menu (a click on the menu, Up to its last item,
# Enter) while the application waits for a line: the program ends, status 0.
rm -f "$dir/window"
start
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 20)) $((Y + 10)) click 1
sleep 0.5
xdotool key Up
sleep 0.2
xdotool key Return
ended Exit
check exit.status 0 "$status"
check exit.window "What is your name? (an empty line ends)" "$(cat "$dir/window" 2>/dev/null)"
exit $fail
