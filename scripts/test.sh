#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests on the normal build, then the unit tests and a short run
# of each fuzz target under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh

bash scripts/build.sh build -DKL_WERROR=ON
(cd build && ctest --output-on-failure -j "$(nproc)")

CC=clang CXX=clang++ bash scripts/build.sh build-asan -DKL_WERROR=ON -DKL_SANITIZE=ON -DKL_FUZZ=ON -DKL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j "$(nproc)" -L unit)
for f in build-asan/out/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$here/tests/fuzz/corpus/${name#fuzz_}"
  mkdir -p "build-asan/corpus-$name"
  if [ -d "$corpus" ]; then "$f" -max_total_time=20 "build-asan/corpus-$name" "$corpus" >/dev/null 2>&1 || { echo "fuzz target $name failed"; "$f" -runs=0 "$corpus"; exit 1; }
  else "$f" -max_total_time=20 "build-asan/corpus-$name" >/dev/null 2>&1 || { echo "fuzz target $name failed"; exit 1; }; fi
  echo "fuzz target $name: 20 s, no failure"
done
