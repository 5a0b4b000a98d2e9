#!/usr/bin/env bash
# The program ZEMASupport4 run headless on packages made by zema-pack:
#   program_test.sh CONSOLE PACK STUB PROGRAM
# Message boxes and session output are recorded by the program's test hooks.
set -u
console=$1 pack=$2 stub=$3 program=$4
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
export QT_QPA_PLATFORM=offscreen HOME="$dir/home" XDG_RUNTIME_DIR="$dir" ZEMA_TEST_MESSAGE_LOG="$dir/boxes"
mkdir -p "$HOME"
fail=0
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
    fail=1
  fi
}
run() {  # PACKAGE ARGS...: sets status, out, boxes, err
  rm -f "$dir/boxes" "$dir/out" "$dir/err"
  ZEMA_SESSION_LOG="$dir/out" timeout 20 "$@" 2>"$dir/err"
  status=$?
  out=$(cat "$dir/out" 2>/dev/null)
  boxes=$(cat "$dir/boxes" 2>/dev/null)
  err=$(cat "$dir/err" 2>/dev/null)
}
# A little-endian word written at BYTES from the end of FILE.
put_word_at_end() {  # FILE BYTES VALUE
  local size
  size=$(stat -c %s "$1")
  printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($3 & 255)) $(($3 >> 8 & 255)) $(($3 >> 16 & 255)) $(($3 >> 24 & 255)))" |
    dd of="$1" bs=1 seek=$((size - $2)) conv=notrunc status=none
}

"$console" > /dev/null <<'APL'
⎕LX←'''HELLO'''
)SAVE hello
)CLEAR
∇F
1÷0
∇
⎕LX←'F'
)SAVE fails
)CLEAR
⎕LX←'1÷0'
)SAVE immediate
APL
"$console" > /dev/null <<'APL'
X←42
)SAVE src
)CLEAR
∇R←F
Z←⍎')SCOPY src X'
R←X
∇
⎕LX←'F'
)SAVE copies
APL
long=$(printf '%0400d' 0 | tr 0 A)
"$console" > /dev/null <<APL
∇F
Z←1÷0×⍴'$long'
∇
⎕LX←'F'
)SAVE long
APL
"$pack" "$stub" long.aws long || exit 1
"$pack" "$stub" hello.aws app || exit 1
"$pack" "$stub" copies.aws copies || exit 1
"$pack" "$stub" fails.aws fails || exit 1
"$pack" "$stub" immediate.aws immediate || exit 1
"$pack" "$stub" hello.aws small 100 || exit 1
put_word_at_end small 16 64  # a package asking for 64 KB, which zema-pack refuses to make
head -c 2000 hello.aws > broken.aws
"$pack" "$stub" broken.aws broken || exit 1
"$console" > /dev/null <<'APL'
∇F
'BEFORE'
X←⍞
∇
⎕LX←'F'
)SAVE asks
)CLEAR
⎕LX←'X←⍞'
)SAVE asks_lx
)CLEAR
∇G
X←⎕
∇
⎕LX←'G'
)SAVE quad
APL
"$pack" "$stub" asks.aws asks || exit 1
"$pack" "$stub" asks_lx.aws asks_lx || exit 1
"$pack" "$stub" quad.aws quad || exit 1
# Damaged trailers: the magic, an image offset past the end, an image
# length that runs into the trailer.
cp app no_magic; put_word_at_end no_magic 4 0x12345678
cp app far_offset; put_word_at_end far_offset 12 $(( $(stat -c %s app) + 100 ))
cp app long_image; put_word_at_end long_image 8 $(( $(stat -c %s hello.aws) + 1 ))

# zema-pack refuses a size that is not a workspace size, and a missing
# stub, with a message naming the fault; it writes nothing then.
pack_refuses() {  # NAME EXPECTED-MESSAGE ARGS...
  local name=$1 expected=$2
  shift 2
  rm -f refused
  perr=$("$pack" "$@" 2>&1)
  check "pack.$name.status" 1 $?
  check "pack.$name.message" "$expected" "$perr"
  check "pack.$name.output" "" "$(ls refused 2>/dev/null)"
}
pack_refuses letters "zema-pack: size abc is not a whole number of KB" "$stub" hello.aws refused abc
pack_refuses small "zema-pack: size 50 is less than the smallest workspace, 100 KB: the package could never start" \
  "$stub" hello.aws refused 50
pack_refuses negative "zema-pack: size -5 is negative" "$stub" hello.aws refused -5
pack_refuses fraction "zema-pack: size 1.5 is not a whole number of KB" "$stub" hello.aws refused 1.5
pack_refuses large "zema-pack: size 2097143 is more than the largest workspace, 2097142 KB" \
  "$stub" hello.aws refused 2097143
pack_refuses huge "zema-pack: size 99999999999999999999 is more than the largest workspace, 2097142 KB" \
  "$stub" hello.aws refused 99999999999999999999
pack_refuses stub "zema-pack: cannot read the stub $dir/no_stub: No such file or directory" \
  "$dir/no_stub" hello.aws refused
for size in 0 100 2097142; do
  "$pack" "$stub" hello.aws sized "$size"
  check "pack.size$size" 0 $?
done

# 1. Without ZEMA_PLAY: the refusal, status 0, nothing written in $HOME.
run env -u ZEMA_PLAY "$program"
check refusal.status 0 "$status"
check refusal.box "ZEMA Support|16|This program cannot run as a standalone application." "$boxes"
check refusal.home "" "$(ls -A "$HOME")"

# 2. A package asking for 64 KB, or -wssize 64 with a package that asks for none.
run env ZEMA_PLAY="$dir/small" "$program"
check small.status 1 "$status"
check small.box "ZEMA Error|16|Invalid WS size (less than 100 KB). Program aborted" "$boxes"
run env ZEMA_PLAY="$dir/app" "$program" -wssize 64
check wssize.status 1 "$status"
check wssize.box "ZEMA Error|16|Invalid WS size (less than 100 KB). Program aborted" "$boxes"

# 3. The latent expression's output reaches the session; status 0; the
# desktop and application-data files are written.
run env ZEMA_PLAY="$dir/app" "$program"
check hello.status 0 "$status"
# The session shows the application's output and nothing else.
check hello.out "HELLO" "$out"
check hello.boxes "" "$boxes"
check hello.home ".zema_appdata .zema_desktop" "$(ls -A "$HOME" | sort | tr '\n' ' ' | sed 's/ $//')"

# 4. An error in a function the latent expression calls: the box, status 1.
run env ZEMA_PLAY="$dir/fails" "$program"
check fails.status 1 "$status"
check fails.box "Application error|16|DOMAIN ERROR" "$(head -1 <<<"$boxes")"
# An error whose message holds a 400-character line: the box shows at
# most 299 characters of it.
run env ZEMA_PLAY="$dir/long" "$program"
check long.status 1 "$status"
text=$(cut -d'|' -f3- <<<"$boxes")
check long.start "DOMAIN ERROR" "$(head -1 <<<"$text")"
check long.length 299 "$(printf '%s' "$text" | LC_ALL=C.UTF-8 wc -m)"
run env ZEMA_PLAY="$dir/immediate" "$program"
check immediate.status 1 "$status"

# A package whose image does not load: WS INVALID and status 1.
run env ZEMA_PLAY="$dir/broken" "$program"
check broken.status 1 "$status"
check broken.out "WS INVALID" "$out"

# A )COPY run by the latent expression: the task has its temporary files,
# and none is left behind.
mkdir -p "$dir/tmp"
run env ZEMA_PLAY="$dir/copies" TMPDIR="$dir/tmp" "$program"
check copies.status 0 "$status"
check copies.out "42" "$(grep -v "CLEAR WS" <<<"$out" )"
check copies.temporaries "" "$(ls -A "$dir/tmp")"

# A ⍞ or ⎕ request shows the session window and waits for the user's
# line, typed here into the window (ZEMA_TEST_INPUT); the window's text is
# read back (ZEMA_TEST_SESSION_DUMP). When the typed lines run out the
# program is asked to quit, as by its Exit command: status 0.
asks() {  # NAME PACKAGE INPUT-LINES
  printf '%s' "$3" > "$dir/input"
  rm -f "$dir/dump"
  run env ZEMA_PLAY="$dir/$2" ZEMA_TEST_INPUT="$dir/input" ZEMA_TEST_SESSION_DUMP="$dir/dump" "$program"
  dump=$(cat "$dir/dump" 2>/dev/null)
}
asks answered asks $'it\'s 1 ⍴ 2\n'
check asks.status 0 "$status"
check asks.out "BEFORE" "$out"
check asks.window "$(printf "BEFORE\nit's 1 ⍴ 2")" "$dump"
check asks.boxes "" "$boxes"
asks unanswered asks ""
check asks_quit.status 0 "$status"
check asks_quit.window "BEFORE" "$dump"
asks quad quad $'1+\n2×3\n'
check quad.status 0 "$status"
check quad.window "$(printf '⎕:\n1+\nSYNTAX ERROR\n      1+\n      ^\n⎕:\n2×3')" "$dump"
asks lx asks_lx $'from ⎕LX\n'
check asks_lx.status 0 "$status"
check asks_lx.window "from ⎕LX" "$dump"

# ZEMA_PLAY naming a damaged or missing package: said so, status 1.
damaged() {  # NAME WHAT
  run env ZEMA_PLAY="$dir/$1" "$program"
  check "$1.status" 1 "$status"
  check "$1.box" "ZEMA Error|16|The packaged application $dir/$1 is damaged: $2" "$boxes"
  check "$1.out" "" "$out"
}
size=$(stat -c %s app)
image=$(stat -c %s hello.aws)
damaged no_magic "its trailer is missing or broken"
damaged far_offset "its trailer places the image ($image bytes at offset $((size + 100))) outside the $((size - 32)) bytes before the trailer"
damaged long_image "its trailer places the image ($((image + 1)) bytes at offset $((size - 32 - image))) outside the $((size - 32)) bytes before the trailer"
printf 'short' > short
damaged short "it is too short to end in a trailer"
run env ZEMA_PLAY="$dir/missing" "$program"
check missing.status 1 "$status"
check missing.box "ZEMA Error|16|Cannot open the packaged application $dir/missing: No such file or directory" "$boxes"

# A -wssize beyond 32 bits is out of range, not "not a number".
run env ZEMA_PLAY="$dir/app" "$program" -wssize 99999999999
check wssize_range.status 1 "$status"
check wssize_range.box "ZEMA Error|16|option -wssize: out of range: 99999999999" "$boxes"

# Headless, without the test hook: no box can be seen, so none waits; each
# is written to standard error and answered by its default button.
headless() {  # NAME STATUS STDERR ARGS...
  local name=$1 want_status=$2 want_err=$3
  shift 3
  run env -u ZEMA_TEST_MESSAGE_LOG "$@"
  check "headless.$name.status" "$want_status" "$status"
  check "headless.$name.stderr" "$want_err" "$err"
}
headless refusal 0 "ZEMA Support: This program cannot run as a standalone application." env -u ZEMA_PLAY "$program"
headless small 1 "ZEMA Error: Invalid WS size (less than 100 KB). Program aborted" env ZEMA_PLAY="$dir/small" "$program"
headless option 1 "ZEMA Error: unknown option -bogus" env ZEMA_PLAY="$dir/app" "$program" -bogus 1
headless fails 1 "$(printf 'Application error: DOMAIN ERROR\nF[1] 1÷0\n     ^')" env ZEMA_PLAY="$dir/fails" "$program"
headless damaged 1 "ZEMA Error: The packaged application $dir/no_magic is damaged: its trailer is missing or broken" \
  env ZEMA_PLAY="$dir/no_magic" "$program"
headless hello 0 "" env ZEMA_PLAY="$dir/app" "$program"

# Without XDG_RUNTIME_DIR the program makes its own private runtime folder
# (so Qt has one and says nothing), and uses it again on the next start.
mkdir -p "$dir/runtime"
for n in 1 2; do
  run env -u XDG_RUNTIME_DIR TMPDIR="$dir/runtime" ZEMA_PLAY="$dir/app" "$program"
  check "runtime$n.status" 0 "$status"
  check "runtime$n.stderr" "" "$err"
  check "runtime$n.folder" "700 zema-runtime-$(id -u)" "$(cd "$dir/runtime" && stat -c '%a %n' zema-runtime-*)"
done

# 5. The package run as an executable through its stub.
run env -u ZEMA_PLAY ZEMA_PROGRAM="$program" ./app
check stub.status 0 "$status"
check stub.out "HELLO" "$out"

# The same on a real X display (a virtual one), where the system has it.
if command -v xvfb-run > /dev/null; then
  run xvfb-run -a env QT_QPA_PLATFORM=xcb ZEMA_PLAY="$dir/app" \
    LSAN_OPTIONS="suppressions=$here/x11_leaks.supp" "$program"
  check x11.status 0 "$status"
  check x11.out "HELLO" "$out"
fi

exit $fail
