#!/usr/bin/env bash
# The console driver's start, end and refusals.
set -u
console=$1
fail=0
check() { # name expected actual
  if [ "$2" != "$3" ]; then echo "FAIL $1: expected [$2] got [$3]"; fail=1; else echo "ok   $1"; fi
}
out=$("$console" < /dev/null); check "clear ws at start" "CLEAR WS" "$out"
"$console" < /dev/null > /dev/null; check "status at end of input" 0 $?
out=$(printf "'X'\n" | "$console" --echo); check "echo after six blanks" "$(printf "CLEAR WS\n      'X'\nX")" "$out"
err=$("$console" -wssize 99 2>&1 < /dev/null); st=$?
check "small ws status" 1 $st
check "small ws message" "Invalid WS size (less than 100 KB). Program aborted" "$err"
"$console" -wssize 100 < /dev/null > /dev/null; check "100 KB accepted" 0 $?
"$console" -wssize 99999999999 < /dev/null > /dev/null 2>&1; st=$?
[ $st -ne 0 ] && [ $st -lt 128 ]; check "unallocatable ws: clean failure" 0 $?
"$console" -wssize abc < /dev/null > /dev/null 2>&1; check "bad ws size" 1 $?
out=$(printf '\xff\xfe\xc0\xaf\n' | "$console" --echo); st=$?
check "invalid UTF-8 survives" 0 $st

# Ctrl+C while the session waits for input abandons the line and asks again;
# the session goes on.
dir=$(mktemp -d); mkfifo "$dir/in"
"$console" --echo < "$dir/in" > "$dir/out" 2>&1 &
pid=$!
exec 3> "$dir/in"
for _ in $(seq 200); do grep -q "CLEAR WS" "$dir/out" && break; sleep 0.05; done
kill -INT $pid
# The abandoned line shows as an empty one; then the next line is typed.
for _ in $(seq 200); do [ "$(wc -l < "$dir/out")" -ge 2 ] && break; sleep 0.05; done
printf "'AFTER'\n" >&3
exec 3>&-
wait $pid; st=$?
check "attention at the prompt: status" 0 $st
check "attention at the prompt: session goes on" "$(printf "CLEAR WS\n\n      'AFTER'\nAFTER")" "$(cat "$dir/out")"
rm -rf "$dir"
exit $fail
