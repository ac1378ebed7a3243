#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit and
# end-to-end tests on the normal build, then the unit tests and a short run
# of each fuzz target under AddressSanitizer and UndefinedBehaviorSanitizer.
# Every stage runs even when an earlier one failed; the summary at the end
# names the stages that failed, and the exit status is 1 when any did.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
bash scripts/install-deps.sh || { echo "the packages could not be installed"; exit 1; }

failed=()
# stage NAME COMMAND...: runs the command as one stage of the summary.
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  if "$@"; then
    echo "== $name: passed ($((SECONDS - start)) s)"
  else
    echo "== $name: FAILED ($((SECONDS - start)) s)"
    failed+=("$name")
  fi
}

in_dir() { (cd "$1" && shift && "$@"); }

stage "build" bash scripts/build.sh build -DKL_WERROR=ON
stage "tests" in_dir build ctest --output-on-failure -j "$(nproc)"

stage "sanitizer build" env CC=clang CXX=clang++ bash scripts/build.sh build-asan -DKL_WERROR=ON -DKL_SANITIZE=ON \
  -DKL_FUZZ=ON -DKL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "sanitizer unit tests" in_dir build-asan ctest --output-on-failure -j "$(nproc)" -L unit

# Each fuzz target runs $KL_FUZZ_SECONDS (20) seconds from its seed corpus
# (tests/fuzz/corpus/NAME) and what earlier runs found, as many at once as
# there are cores. A failure keeps its input under build-asan/fuzz-failures/
# and names it (and the seed it came from, when a seed itself fails).
fuzz_seconds=${KL_FUZZ_SECONDS:-20}
fuzz_target() {
  local f=$1 name corpus found failures log
  name=$(basename "$f")
  corpus="$here/tests/fuzz/corpus/${name#fuzz_}"
  found="build-asan/corpus-$name"
  failures="build-asan/fuzz-failures"
  log="build-asan/$name.log"
  rm -f "build-asan/$name.status"
  mkdir -p "$found" "$failures"
  [ -d "$corpus" ] || { echo "$name has no seed corpus ($corpus)" >"$log"; return 1; }
  LSAN_OPTIONS="suppressions=$here/tests/fuzz/lsan.supp" \
    "$f" -max_total_time="$fuzz_seconds" -artifact_prefix="$failures/$name-" "$found" "$corpus" >"$log" 2>&1
}
# What a finished target's run left: nothing on success, else the end of
# its log and the failing input.
fuzz_report() {
  local f=$1 status=$2 name corpus log input seed
  name=$(basename "$f")
  corpus="$here/tests/fuzz/corpus/${name#fuzz_}"
  log="build-asan/$name.log"
  if [ "$status" -eq 0 ]; then
    echo "$name: $fuzz_seconds s, no failure"
    return 0
  fi
  tail -n 60 "$log"
  input=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" | tail -1)
  if [ -n "$input" ]; then
    echo "$name failed on the input $here/$input"
    for seed in "$corpus"/* "build-asan/corpus-$name"/*; do
      [ -f "$seed" ] && cmp -s "$seed" "$input" && echo "  (the same bytes as $seed)"
    done
  else
    echo "$name failed before it ran an input (log: $here/$log)"
  fi
  return 1
}
targets=()
for f in build-asan/out/fuzz_*; do [ -x "$f" ] && targets+=("$f"); done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built"; failed+=("fuzz targets"); }
pids=()
for f in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n; done
  (fuzz_target "$f"; echo $? >"build-asan/$(basename "$f").status") &
  pids+=($!)
done
[ ${#pids[@]} -gt 0 ] && wait "${pids[@]}"
for f in "${targets[@]}"; do
  stage "fuzz $(basename "$f")" fuzz_report "$f" "$(cat "build-asan/$(basename "$f").status" 2>/dev/null || echo 1)"
done

echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "every stage passed"
  exit 0
fi
echo "failed stages (${#failed[@]}):"
printf '  %s\n' "${failed[@]}"
exit 1
