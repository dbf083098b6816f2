#!/usr/bin/env bash
# Installs what is missing, builds Mirl three ways and runs every test:
#   build-asan  all tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   build-tsan  the concurrency tests under ThreadSanitizer
#   build       the optimised program: tests that need real-time speed, then the benchmarks
# and cross-compiles the engine, MIDI and panel sources for arm64.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/deps.sh
jobs=$(nproc)

configure() {  # configure DIR [cmake args...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}
configure build-asan -DMIRL_SANITIZE=address
configure build-tsan -DMIRL_SANITIZE=thread
configure build
for dir in build-asan build-tsan build; do
  echo "== building $dir"
  log=$(mktemp)
  # One build per tree; its warnings are shown from that same build.
  if ! cmake --build "$dir" -j"$jobs" >"$log" 2>&1; then
    grep -E -A3 'error|Error' "$log" | head -n 60
    echo "tests: 0 passed, 1 failed (the $dir build failed)"
    exit 1
  fi
  grep -E -A3 'warning' "$log" || true
  rm -f "$log"
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

passed=0 failed=0
failures=""  # what failed, named in the closing lines, where a log's tail is all that is seen
runctest() {  # runctest DIR LABEL RUNS
  local log
  log=$(mktemp)
  echo "== $1: tests labelled $2"
  # End-to-end tests drive a real X server and sound server on a small machine:
  # they get one more run when they fail, and a real fault fails both. Unit
  # and concurrency tests count their first run.
  ctest --test-dir "$1" -L "^$2\$" --output-on-failure --repeat until-pass:"$3" 2>&1 | tee "$log" || true
  local line
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local f t
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    passed=$((passed + t - f)); failed=$((failed + f))
    if [ "$f" -gt 0 ]; then
      failures+="$1 $2: $(sed -n '/The following tests FAILED:/,$p' "$log" \
        | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p' | tr '\n' ' ')"$'\n'
    fi
  elif ! grep -q 'No tests were found' "$log"; then
    failed=$((failed + 1)); failures+="$1 $2: ctest printed no summary"$'\n'
  fi
  rm -f "$log"
}
echo "== arm64: the engine, MIDI and panel sources on a machine without SSE or AVX2"
if ./tools/arm64-compile.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+="arm64 compile"$'\n'; fi
runctest build-asan unit 1
runctest build-asan e2e 2
runctest build-tsan concurrency 1
runctest build realtime 2

echo "== benchmarks (figures only; nothing here passes or fails on speed)"
for b in build/tools/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "-- $(basename "$b")"
  "$b" || { failed=$((failed + 1)); failures+="benchmark $(basename "$b") exited non-zero"$'\n'; }
done

printf '%s' "$failures" | sed 's/^/failed: /'

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
