#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in a plain
# build and once under AddressSanitizer and UndefinedBehaviorSanitizer; then
# links each layer of the interpreter on its own, so that a call that points
# up a layer fails, and checks that no file includes a header of a layer
# above its own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMA_WERROR=ON > /dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEMA_SANITIZE=ON -DZEMA_WERROR=ON > /dev/null
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
cmake -S . -B build-layers -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEMA_LAYER_CHECK=ON > /dev/null
cmake --build build-layers -j "$jobs" --target zema_session
python3 tools/check_layers.py
