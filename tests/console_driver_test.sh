#!/usr/bin/env bash
# The console driver's start, end and refusals, its input conversion, and
# its prompts at a terminal.
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

# The program's command line: -xrm settings and the options of the
# settings; what cannot be read is refused with a message naming it.
out=$(printf '⎕PW\n' | "$console" -xrm '*quad_pw: 20'); check "xrm width kept within range" "$(printf "CLEAR WS\n40")" "$out"
out=$(printf '⎕PW\n' | "$console" -xrm '*quad_pw: 500'); check "xrm width at most 390" "$(printf "CLEAR WS\n390")" "$out"
out=$(printf '⎕AI[1]\n' | "$console" -id 77); check "option -id" "$(printf "CLEAR WS\n77")" "$out"
err=$("$console" -xrm '*quad_pw: wide' 2>&1 < /dev/null); st=$?
check "xrm not a number: status" 1 $st
check "xrm not a number: message" "zema-console: setting quad_pw: not a number: wide" "$err"
err=$("$console" -nosuch 1 2>&1 < /dev/null); st=$?
check "unknown option: status" 1 $st
check "unknown option: message" "zema-console: unknown option -nosuch" "$err"

# The largest workspace: every figure still fits in 31 bits, and the free
# space is exact (the same overhead as in the smallest); one KB more is refused.
out=$(printf '⎕WSSIZE\n⎕WSSIZE-⎕WA\n' | "$console" -wssize 100)
small_overhead=$(echo "$out" | sed -n 3p)
out=$(printf '⎕WSSIZE\n⎕WSSIZE-⎕WA\n' | "$console" -wssize 2097142 2>&1)
check "largest ws: size" "$((2097142 * 1024 - 10232))" "$(echo "$out" | sed -n 2p)"
check "largest ws: free space exact" "$small_overhead" "$(echo "$out" | sed -n 3p)"
for kb in 2097143 4000000; do
  err=$("$console" -wssize $kb 2>&1 < /dev/null); st=$?
  check "ws of $kb KB: status" 1 $st
  check "ws of $kb KB: message" "Invalid WS size (more than 2097142 KB). Program aborted" "$err"
done

# Input that cannot be read is an error, not an empty session.
dir=$(mktemp -d)
out=$("$console" "$dir" 2> "$dir.err"); st=$?
check "directory: status" 1 $st
check "directory: nothing runs" "" "$out"
check "directory: message" "zema-console: cannot read $dir: Is a directory" "$(cat "$dir.err")"
"$console" /proc/self/mem > /dev/null 2> "$dir.err"; st=$?
check "failed read: status" 1 $st
check "failed read: message" "zema-console: cannot read /proc/self/mem: Input/output error" "$(cat "$dir.err")"
rm -rf "$dir" "$dir.err"

# The example session of the README runs what is built: a defined function
# stopped by an error, and nothing the system lacks.
example=$(dirname "$0")/../examples/hello.apl
out=$("$console" --echo "$example"); st=$?
check "example: status" 0 $st
echo "$out" | grep -q "^HYP\[1\] "; check "example: error report of a defined function" 0 $?
echo "$out" | grep -Eq "NONCE ERROR|SYNTAX ERROR|VALUE ERROR|INCORRECT COMMAND"
check "example: nothing unbuilt" 1 $?

# A byte-order mark opens the input and is no part of the first line.
out=$(printf "\xef\xbb\xbf'OK'\n" | "$console"); check "byte-order mark skipped" "$(printf "CLEAR WS\nOK")" "$out"

# Piped, a ⍞ answer is shown after its prompt, and the line it ends is not
# ended again.
out=$(printf "⍞←'Name: ' ⋄ X←⍞\nJoe\n'[',X,']'\n" | "$console" --echo)
check "quote-quad answer on its prompt's line" \
  "$(printf "CLEAR WS\n      ⍞←'Name: ' ⋄ X←⍞\nName: Joe\n      '[',X,']'\n[      Joe]")" "$out"

# At a terminal each line is asked for with its prompt (six blanks, the ∇
# editor's [n], a ⍞ prompt) before it is read. The terminal does not echo
# here, so the output is the session's alone; the lines are sent once the
# session has started.
dir=$(mktemp -d); mkfifo "$dir/in"
script -qec "stty -echo; exec '$console'" /dev/null < "$dir/in" > "$dir/out" 2>&1 &
pid=$!
exec 3> "$dir/in"
for _ in $(seq 200); do grep -q "CLEAR WS" "$dir/out" && break; sleep 0.05; done
printf "1+1\n∇R←F\nR←2\n∇\n⍞←'Name: ' ⋄ X←⍞\nJoe\n'[',X,']'\n" >&3
exec 3>&-
wait $pid; st=$?
check "terminal: status" 0 $st
check "terminal: prompts before reading" \
  "$(printf "CLEAR WS\n      2\n      [1]   [2]         Name:       [      Joe]\n      \n")" \
  "$(tr -d '\r' < "$dir/out")"
rm -rf "$dir"

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
