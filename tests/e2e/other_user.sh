#!/usr/bin/env bash
# Two users on one machine. A development folder (the engine and the outside
# compiler, our stand-in) run by one user and then by another: each run gets
# its compiled files through shared blocks of its own user and leaves none
# behind. A user whose fall-back lock folder (/tmp/k_lumbrane-<uid>, used
# without XDG_RUNTIME_DIR) was made by another user gets a box that names the
# folder and the run ends, never a silent end.
# Needs root to run programs as another user (skipped otherwise).
set -u
out=$1
src=$2
bin=$3
source "$src/tests/e2e/lib/common.bash" || { echo "FAIL: tests/e2e/lib/common.bash did not load" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to act as a second user"; exit 77; }
writer="$bin/demo/make_demo"
[ -x "$writer" ] || fail "no game writer program ($writer) in this build"
[ -x "$out/kl_standin_compiler" ] || fail "no stand-in compiler"
# A user id with no account on this machine: nothing else runs as it, so its
# blocks and folders are this test's alone.
user=$((64000 + $$ % 1000))
chmod 755 "$work"
unset WAYLAND_DISPLAY
start_display
# What the compiler hands over: a game that waits for ever, its compiled
# files loose.
printf 'config width=320 height=240 title=twouser\nscript 0 main.txt\nlabel SYSTEM_START\nloop L:-1\nwait I:1\nendloop\n' \
  >"$work/wait.game"
"$writer" "$work/wait.game" "$work/handed" >/dev/null || fail "the game could not be written"
chmod -R a+rX "$work/handed"
export KL_STANDIN_COMPILER=normal KL_STANDIN_FILES="$work/handed"

# dev_folder <path> <owner>: the engine, its libraries and the compiler.
dev_folder() {
  mkdir -p "$1/system/DEDad"
  cp "$out/k_lumbrane" "$out/libZTZid.so" "$out/libTheoraLib.so" "$1/"
  cp "$out/kl_standin_compiler" "$1/system/DEDad/DEDad"
  chown -R "$2:$2" "$1"
}

# as_user <uid> <command...>: becomes a command run as that user, with a
# home of its own and without the session bus (another user's bus refuses
# it). Called in a subshell, whose pid is then the program's.
as_user() {
  local uid=$1
  shift
  [ "$uid" -eq 0 ] && exec "$@"
  exec env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home-$uid" NO_AT_BRIDGE=1 \
    setpriv --reuid="$uid" --regid="$uid" --clear-groups "$@"
}

# blocks_of <uid>: the shared-memory objects of the bridge left for that user.
blocks_of() { ls /dev/shm 2>/dev/null | grep -E "^ZE-TARCompilerFileMapObject2?\.$1(\.lock)?\$"; }

# run_dev <uid>: runs a development folder as that user until the game's
# window shows, with no other window, then ends it with SIGTERM.
run_dev() {
  local uid=$1 game="$work/game-$1" rc
  mkdir -p "$work/home-$uid" "$work/run-$uid"
  chmod 700 "$work/run-$uid"
  chown "$uid:$uid" "$work/home-$uid" "$work/run-$uid"
  dev_folder "$game" "$uid"
  (cd "$game" && XDG_RUNTIME_DIR="$work/run-$uid" SDL_DISKAUDIOFILE="$game/sound.raw" \
    as_user "$uid" ./k_lumbrane) >"$work/engine.log" 2>&1 &
  engine=$!
  local main
  main=$(find_window "twouser") || fail "user $uid: the game's window did not appear"
  check_windows "$main"
  kill -TERM $engine
  wait_for_end $engine || fail "user $uid: the engine did not end after SIGTERM"
  wait $engine
  rc=$?
  engine=
  [ $rc -eq 0 ] || fail "user $uid: the engine exited with $rc"
}

# The first user uses the bridge; the second one's bridge still works.
run_dev 0
blocks_of "$user" && fail "blocks of user $user before its run"
run_dev "$user"
left=$(blocks_of "$user") && fail "the run of user $user left its blocks behind: $left"

# The second user's fall-back lock folder, made by the first user.
folder="/tmp/k_lumbrane-$user"
rm -rf "$folder"
mkdir -m 777 "$folder"
trap '[ -n "$engine" ] && kill -9 $engine 2>/dev/null; stop_display; rm -rf "$work" "$folder"' EXIT
game="$work/game-$user"
(cd "$game" && unset XDG_RUNTIME_DIR && SDL_DISKAUDIOFILE="$game/sound.raw" as_user "$user" ./k_lumbrane) \
  >"$work/engine.log" 2>&1 &
engine=$!
box=$(find_window "エラー") || fail "no box for a lock folder of another user"
check_windows "$box"
for _ in 1 2 3; do
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key --clearmodifiers Return
  wait_for_end $engine && break
done
kill -0 $engine 2>/dev/null && fail "the engine did not end after the box"
wait $engine
rc=$?
engine=
[ $rc -ne 0 ] || fail "the refused start ended with 0"
# The box's text (also written to standard error) names the folder.
grep -aqF "「$folder」" "$work/engine.log" || fail "the box does not name the folder"
[ "$(stat -c %u "$folder")" -eq 0 ] || fail "the other user's folder was changed"
echo "other user: ok"
