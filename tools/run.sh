#!/usr/bin/env bash
# Installs what is missing, builds Mirl and starts it. Arguments go to Mirl
# (for example -small).
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target mirl >/dev/null
exec ./build/mirl "$@"
