#!/usr/bin/env bash
# Runs the tests on a busy machine: a CPU load generator (stress-ng) works on
# every core for as long as the tests run. Without arguments the command is
# scripts/test.sh; with arguments they are the command, e.g.
#   scripts/stress-test.sh bash -c 'cd build && ctest -R e2e_updater_kill'
# At the end it prints the wall time, the load averages at the end and the
# highest one-minute load seen, and exits with the command's status.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
command -v stress-ng >/dev/null || { echo "stress-ng is not installed (scripts/install-deps.sh)"; exit 1; }
[ $# -gt 0 ] || set -- bash scripts/test.sh

cores=$(nproc)
# The load ends with this script; its own time limit only bounds a run whose
# script was killed before it could stop the load.
stress-ng --cpu "$cores" --timeout 4h --quiet &
load=$!
peak_file=$(mktemp)
echo 0 >"$peak_file"
# The highest one-minute load average, sampled every 10 s.
(
  while kill -0 $load 2>/dev/null; do
    now=$(cut -d' ' -f1 /proc/loadavg)
    awk -v a="$now" -v b="$(cat "$peak_file")" 'BEGIN { exit !(a > b) }' && echo "$now" >"$peak_file"
    sleep 10
  done
) &
sampler=$!
trap 'kill $sampler 2>/dev/null; kill -TERM $load 2>/dev/null; wait $load 2>/dev/null; rm -f "$peak_file"' EXIT

start=$SECONDS
echo "== under stress-ng --cpu $cores: $*"
"$@"
rc=$?
echo "== wall time $((SECONDS - start)) s under stress-ng --cpu $cores; load averages at the end" \
  "$(cut -d' ' -f1-3 /proc/loadavg), highest one-minute load $(cat "$peak_file"); exit status $rc"
exit $rc
