#!/usr/bin/env bash
# Start-up of ZEMASupport4: from process start to the application's first
# output, for a package holding a workspace of about 20 MB.
#   bench/program_start_bench.sh BUILD_DIR
set -eu
build=${1:-build}
build=$(cd "$build" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$build/tools/zema-console" -wssize 65536 > /dev/null <<'APL'
BIG←2500000⍴1.5
⎕LX←'''HELLO'''
)SAVE big
APL
"$build/tools/zema-pack" "$build/tools/zema_pack.stb" big.aws app 65536
echo "package: $(stat -c %s app) bytes"
export QT_QPA_PLATFORM=offscreen HOME="$dir" XDG_RUNTIME_DIR="$dir" ZEMA_PLAY="$dir/app" ZEMA_SESSION_LOG=-
for i in 1 2 3 4 5; do
  start=$(date +%s%N)
  "$build/program/ZEMASupport4" | { read -r first; while [ "$first" = "CLEAR WS" ]; do read -r first; done
    end=$(date +%s%N); echo "first output \"$first\" after $(( (end - start) / 1000000 )) ms"; cat > /dev/null; }
done
