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
run() {  # PACKAGE ARGS...: sets status, out, boxes
  rm -f "$dir/boxes" "$dir/out"
  ZEMA_SESSION_LOG="$dir/out" timeout 20 "$@" 2>/dev/null
  status=$?
  out=$(cat "$dir/out" 2>/dev/null)
  boxes=$(cat "$dir/boxes" 2>/dev/null)
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
"$pack" "$stub" hello.aws small 64 || exit 1
head -c 2000 hello.aws > broken.aws
"$pack" "$stub" broken.aws broken || exit 1

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
