#!/usr/bin/env bash
# ⎕WI through the console's task: the interpreter on its own thread, the
# ⎕WI objects on the GUI thread (zema-console --wi, offscreen).
#  - 10^4 reads of '#' ⎕WI 'version' in a :For loop, each crossing to the
#    GUI thread and back, less the same loop assigning a constant: µs per read;
#  - 10^4 events queued by send (in rounds of 200, the queue's size) and
#    run by ⎕WE 0, each callback N←N+1: total ms, and N as a check.
#  - the plain driver's start and end on a one-line session, for comparison
#    with the same run under --wi (ms per run, best of 5 rounds of 20 runs).
#   bench/wi_console_bench.sh BUILD_DIR
set -eu
build=${1:-build}
build=$(cd "$build" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
export HOME="$dir" XDG_RUNTIME_DIR="$dir"
cat > bench.apl <<'APL'
⎕FX 'R←READS K;I;V' 'R←⎕AI[3]' ':For I :In ⍳K' 'V←''#'' ⎕WI ''version''' ':EndFor' 'R←⎕AI[3]-R'
⎕FX 'R←LOOP K;I;V' 'R←⎕AI[3]' ':For I :In ⍳K' 'V←5' ':EndFor' 'R←⎕AI[3]-R'
⎕FX 'R←EVENTS K;I;J' 'N←0' '''#'' ⎕WI ''onSend'' ''N←N+1''' 'R←⎕AI[3]' ':For I :In ⍳K÷200' ':For J :In ⍳200' '''#'' ⎕WI ''send''' ':EndFor' 'J←⎕WE 0' ':EndFor' 'R←⎕AI[3]-R'
READS 10000
LOOP 10000
EVENTS 10000
N
APL
for round in 1 2 3; do
  "$build/tools/zema-console" --wi bench.apl 2>/dev/null | tail -4 | {
    read -r reads; read -r loop; read -r events; read -r n
    echo "10^4 property reads: $(awk "BEGIN{printf \"%.1f\", ($reads - $loop) / 10}") µs per read ($reads ms, loop alone $loop ms);" \
         "10^4 events sent and run: $events ms (N=$n)"
  }
done
echo '1+1' > plain.apl
for mode in "" "--wi"; do
  best=
  for round in 1 2 3 4 5; do
    start=$(date +%s%N)
    for i in $(seq 20); do "$build/tools/zema-console" $mode plain.apl > /dev/null 2>&1; done
    end=$(date +%s%N)
    t=$(( (end - start) / 20000 ))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "zema-console ${mode:-(plain)} one-line session: $best µs per run"
done
