#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the console driver
# on the bundled example session. The build has its own folder, build-run,
# so that it and the test builds of tools/test.sh do not rebuild each other.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-run
./build-run/tools/zema-console --echo examples/hello.apl
