#!/usr/bin/env bash
# The contract tests of the desktop services (clipboard, dialogs) on their
# GTK backends: the same cases the fakes pass, run on a display of their own.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display
timeout 100 "$out/test_commands" --gtest_filter='*Contract*' >"$work/engine.log" 2>&1 || fail "contract tests failed"
grep -q "SKIPPED" "$work/engine.log" && fail "a GTK case was skipped on the display"
exit 0
