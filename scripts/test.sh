#!/usr/bin/env bash
# Installs every dependency, configures, builds and runs the whole test suite.
#   scripts/test.sh [--build-dir DIR] [--sanitize LIST]
# LIST is passed to -fsanitize= (for example address,undefined or thread).
# Under CI (CI=true) compiler warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
sanitize=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir="$2"; shift 2 ;;
    --sanitize) sanitize="$2"; shift 2 ;;
    *) echo "test.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh

werror=OFF
if [ "${CI:-}" = "true" ]; then
  werror=ON
fi
bench=ON
if [ -n "$sanitize" ]; then
  bench=OFF  # benchmarks are measured in plain builds only
fi
case "$sanitize" in
  *thread*)
    # The toolkit's own threads need the suppressions explained in the file;
    # child processes the tests start inherit them.
    export TSAN_OPTIONS="${TSAN_OPTIONS:-suppressions=$PWD/tests/tsan.supp second_deadlock_stack=1}"
    ;;
esac

# Tests on whatever the folder was configured with before (scripts/run.sh
# shares it), and a run that finds no test is a failure, not a success.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANTA_BUILD_TESTS=ON \
  -DCORVANTA_WERROR="$werror" -DCORVANTA_SANITIZE="$sanitize" -DCORVANTA_BUILD_BENCH="$bench"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)" --timeout 600 --no-tests=error
