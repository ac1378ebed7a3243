#!/usr/bin/env bash
# The windowing service's contract cases on the GTK backend, on a display of
# their own (the same cases run on the fake among the unit tests).
set -u
out=$1
src=$2
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ -x "$out/test_platform" ] || fail "no platform test program in this build"
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display

KL_UI_CONTRACT_GTK=1 timeout 60 "$out/test_platform" --gtest_filter='Backends/UiContract.*/gtk' >"$work/engine.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "the GTK backend breaks the windowing contract (status $rc)"
grep -q "SKIPPED" "$work/engine.log" && fail "contract cases were skipped"
grep -q "PASSED.* [1-9][0-9]* test" "$work/engine.log" || fail "no contract case ran"
echo "ui contract on GTK: ok"
