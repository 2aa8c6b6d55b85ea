#!/usr/bin/env bash
# Installs what is needed, builds the service and starts it on the bundled demo
# installation root (port 8000, log in demo/log/). Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target comtrade_service
mkdir -p demo/log
cd demo
echo "comtrade_service listening on port 8000 (TAVROOT=$PWD)"
TAVROOT="$PWD" exec ../build/src/main/comtrade_service
