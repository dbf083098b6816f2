#!/usr/bin/env bash
# Compiles the engine, MIDI and panel sources for arm64 (a Raspberry Pi, an ARM
# laptop): proof that they build where there is no SSE or AVX2, on the engine's
# plain lanes. Installs Debian's g++-aarch64-linux-gnu when it is missing; uses
# the raylib headers that tools/deps.sh put into .deps/.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v aarch64-linux-gnu-g++ >/dev/null; then
  sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends g++-aarch64-linux-gnu >/dev/null
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for f in synth/*.cpp midi/*.cpp panel/*.cpp; do
  aarch64-linux-gnu-g++ -std=c++20 -O2 -Wall -Wextra -ffp-contract=off -fno-fast-math \
    -I. -isystem .deps/prefix/include -c "$f" -o "$out/$(basename "$f" .cpp).o"
done
echo "arm64: synth, midi and panel compile"
