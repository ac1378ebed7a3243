#!/usr/bin/env bash
# The desktop services' contract cases on the real backends: the platform
# tests that need a display, run under Xvfb.
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY
start_display
timeout 60 "$out/test_platform" --gtest_filter='*Gtk*:-GtkControlDialog.*' >"$work/contract.log" 2>&1
rc=$?
grep -q "SKIPPED" "$work/contract.log" && { cat "$work/contract.log"; fail "contract cases were skipped under Xvfb"; }
[ $rc -eq 0 ] || { cat "$work/contract.log"; fail "contract cases failed on the real backends ($rc)"; }
echo "platform contract on the desktop: ok"
