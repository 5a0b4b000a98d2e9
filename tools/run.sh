#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: the example
# application examples/hello_app.apl, packaged at build time, started as a
# package through ZEMASupport4 on Qt's offscreen platform, its session
# output on standard output. The build has its own folder, build-run, so
# that it and the test builds of tools/test.sh do not rebuild each other.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-run
QT_QPA_PLATFORM=offscreen ZEMA_SESSION_LOG=- ./build-run/examples/hello_app
