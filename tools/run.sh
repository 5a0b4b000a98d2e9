#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the console driver
# on the bundled example session.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build
./build/tools/zema-console --echo examples/hello.apl
