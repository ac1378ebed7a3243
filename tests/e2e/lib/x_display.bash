# Helpers for end-to-end tests that need a display: a private Xvfb, a close
# request as a window manager sends it, and waiting for windows by title.
# Source after setting $work (a scratch folder) and defining fail().

xvfb_pid=

# Under the sanitizers, what the desktop libraries keep until exit is not
# counted as a leak of the engine.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan_desktop.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# The player's desktop, started per test by start_display: Xvfb on a display
# of its own, a session bus, the window manager and a notification area.
# desktop_pids holds what runs besides Xvfb, stopped last started first.
desktop_pids=()
e2e_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# start_display [bare|no-tray]: starts the desktop and exports DISPLAY and
# DBUS_SESSION_BUS_ADDRESS. "bare" is Xvfb alone (no window manager, no
# bus); "no-tray" leaves out the StatusNotifierItem watcher and host, for a
# test that brings its own or checks the fall-back without one.
start_display() {
  local mode=${1:-desktop} attempt
  case $mode in desktop|bare|no-tray) ;; *) fail "start_display: unknown mode $mode" ;; esac
  for attempt in 1 2 3; do
    start_xvfb
    [ "$mode" = bare ] && return 0
    start_session_bus
    # A window manager that could not open the display gets a new desktop,
    # with what it said.
    if try_window_manager; then
      [ "$mode" = no-tray ] || start_tray
      return 0
    fi
    echo "openbox could not use display $DISPLAY (attempt $attempt):"
    cat "$work/openbox.log"
    xdpyinfo >/dev/null 2>&1 && echo "(the display still answers xdpyinfo)" || echo "(the display no longer answers)"
    stop_display
  done
  fail "openbox did not take the screen"
}

# Starts Xvfb on a free display number and exports DISPLAY. Xvfb picks the
# number itself (-displayfd: it takes the number's lock atomically and writes
# the number once it accepts clients), so scripts run at the same time never
# share a display. -noreset: by default the server resets when its last
# client leaves, and a client connecting during that reset is refused (on a
# loaded machine, 17 of 600 connections of four clients coming and going);
# that refused the engine's window ("ウィンドウが生成できませんでした。")
# and openbox's display. A player's desktop always has clients, so its
# server never resets under a starting game.
start_xvfb() {
  command -v Xvfb >/dev/null || fail "Xvfb is not installed"
  start_x_server xvfb "$work/xvfb.log" xdpyinfo Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset ||
    fail "no Xvfb display could be started"
}

# start_x_server NAME LOG PROBE SERVER...: runs the X server command SERVER
# (given -displayfd 3: it writes its display number on descriptor 3, once it
# accepts clients, into $work/NAME.display), its output in LOG; once the
# number came and the program PROBE answers on that display, exports DISPLAY
# and keeps the server's pid in $xvfb_pid (stop_display ends it). Three
# attempts; status 1 when none came up.
start_x_server() {
  local file="$work/$1.display" log=$2 probe=$3 attempt _ n
  shift 3
  for attempt in 1 2 3; do
    : >"$file"
    "$@" 3>"$file" >"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
      n=$(head -1 "$file" 2>/dev/null)
      [ -n "$n" ] && break
      kill -0 "$xvfb_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -n "$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do "$probe" >/dev/null 2>&1 && return 0; sleep 0.1; done
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  done
  return 1
}

# A session bus of the test's own (the programs' tray icon, and the
# accessibility bus it starts, talk over it); exports its address.
start_session_bus() {
  command -v dbus-daemon >/dev/null || fail "dbus-daemon is not installed"
  local _ address=
  : >"$work/bus.address"
  dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus.address" >"$work/bus.log" 2>&1 &
  desktop_pids+=($!)
  for _ in $(seq 1 100); do
    address=$(head -1 "$work/bus.address" 2>/dev/null)
    [ -n "$address" ] && break
    sleep 0.1
  done
  [ -n "$address" ] || fail "the session bus did not start"
  export DBUS_SESSION_BUS_ADDRESS=$address
}

# Starts openbox on the display and waits until it manages the screen (a
# bare X server ignores full-screen and move requests). Does nothing when
# the desktop already has it.
start_window_manager() {
  try_window_manager && return 0
  cat "$work/openbox.log"
  fail "openbox did not take the screen"
}

# As start_window_manager, with status 1 instead of a failure when openbox
# ends or does not take the screen within 30 s.
try_window_manager() {
  [ -n "$wm" ] && return 0
  command -v openbox >/dev/null || fail "openbox is not installed"
  openbox >"$work/openbox.log" 2>&1 &
  wm=$!
  desktop_pids+=($wm)
  local _
  for _ in $(seq 1 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
    kill -0 $wm 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# The notification area: a StatusNotifierItem watcher, then a host that
# shows the items as a panel at the bottom of the screen; waits until the
# host is registered, so a program started next sees a tray.
start_tray() {
  command -v status-notifier-watcher >/dev/null || fail "status-notifier-watcher is not installed"
  command -v gtk-sni-tray-standalone >/dev/null || fail "gtk-sni-tray-standalone is not installed"
  status-notifier-watcher >"$work/watcher.log" 2>&1 &
  desktop_pids+=($!)
  local _ attempt host
  for _ in $(seq 1 200); do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
      --method org.freedesktop.DBus.NameHasOwner org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true && break
    sleep 0.1
  done
  for attempt in 1 2 3; do
    gtk-sni-tray-standalone --bottom >>"$work/tray.log" 2>&1 &
    host=$!
    for _ in $(seq 1 200); do
      kill -0 $host 2>/dev/null || break
      if gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
        --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher IsStatusNotifierHostRegistered \
        2>/dev/null | grep -q true; then
        desktop_pids+=($host)
        return 0
      fi
      sleep 0.1
    done
    kill $host 2>/dev/null
    wait $host 2>/dev/null
  done
  cat "$work/watcher.log" "$work/tray.log"
  fail "the notification area did not start"
}

stop_display() {
  local i
  for ((i = ${#desktop_pids[@]} - 1; i >= 0; i--)); do
    kill "${desktop_pids[i]}" 2>/dev/null
    wait "${desktop_pids[i]}" 2>/dev/null
  done
  desktop_pids=()
  wm=
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  fi
}

# Sends WM_DELETE_WINDOW to window $1, as a window manager does for a click
# on the window's close button.
wm_delete() {
  /usr/bin/python3 "$e2e_lib/client_message.py" window "$1" WM_PROTOCOLS WM_DELETE_WINDOW 0
}

# Prints the first visible window titled exactly $1 that is not $2 (waits up
# to 10 s); fails with status 1 when none appears.
find_window() {
  local w _
  for _ in $(seq 1 100); do
    w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -v "^${2:-none}\$" | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

# hold_key_until KEY COMMAND...: holds KEY down until COMMAND (a bounded wait
# for what the key does) returns, then lets it go; COMMAND's status and
# output. The engine reads the keyboard's state once a frame, and a frame on
# a loaded machine can outlast a short tap, so the key stays down until its
# effect is seen, as a player holds a key until the game reacts. The
# display's key repeat is turned off first: a held key would otherwise type
# into a box that opens while it is down.
hold_key_until() {
  local key=$1 rc
  shift
  xset r off 2>/dev/null
  xdotool keydown "$key"
  "$@"
  rc=$?
  xdotool keyup "$key"
  return $rc
}

# Waits up to 10 s for process $1 to end; status 1 when it is still running.
wait_for_end() {
  local _
  for _ in $(seq 1 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

# Runs "$out/demo_check" with the given arguments until it passes, for up
# to 20 s: the demo's scene comes to rest after its opening movie and the
# ball's run, later on a busy machine. The last check's report stays in
# $work/check.log; status 1 when none passed.
demo_check_until() {
  local _
  for _ in $(seq 1 60); do
    "$out/demo_check" "$@" >"$work/check.log" 2>&1 && return 0
    sleep 0.3
  done
  return 1
}

# Prints the visible windows of process $1, one "id title" a line.
process_windows() {
  local w
  for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    echo "$w $(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

# Prints the windows of process $1 with the text each shows (as far as the
# accessibility bus tells it).
describe_windows() {
  local id title
  while read -r id title; do
    echo "window $id \"$title\":"
    timeout 15 /usr/bin/python3 "$e2e_lib/window_text.py" "$1" "$title" 2>&1
  done < <(process_windows "$1")
}

# check_windows_of PID ID...: fails when process PID shows a window other than
# the given ones, naming it with its title and text. A window on its way out
# (a box just answered) may take up to 3 s to go.
check_windows_of() {
  local pid=$1 _ id title extra
  shift
  for _ in $(seq 1 30); do
    extra=
    while read -r id title; do
      [[ " $* " == *" $id "* ]] || extra="$extra $id"
    done < <(process_windows "$pid")
    [ -z "$extra" ] && return 0
    sleep 0.1
  done
  for id in $extra; do
    title=$(xdotool getwindowname "$id" 2>/dev/null)
    echo "unexpected window $id \"$title\" of process $pid:"
    timeout 15 /usr/bin/python3 "$e2e_lib/window_text.py" "$pid" "$title" 2>&1
  done
  windows_described=1
  fail "a window the test did not expect is open"
}

# check_windows ID...: the same for the engine ($engine).
check_windows() {
  [ -n "$engine" ] || fail "check_windows: no engine running"
  check_windows_of "$engine" "$@"
}

# Prints window $1's place on the screen and size as shell assignments
# (X= Y= WIDTH= HEIGHT=), for grabbing its picture from the screen. Under a
# window manager xdotool's own geometry adds the frame's offset again; the
# server's absolute position is where the window shows.
window_geometry() {
  xwininfo -id "$1" 2>/dev/null | awk '
    /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
    /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF }
    END { if (w == "") exit 1; printf "X=%s\nY=%s\nWIDTH=%s\nHEIGHT=%s\n", x, y, w, h }'
}

# Prints the place of window $1's frame (its decorations included) as
# "X Y": where the window manager put the window as a whole.
frame_origin() {
  local x y left top
  eval "$(window_geometry "$1")" || return 1
  read -r left _ top _ < <(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= *//p' | tr -d ',')
  echo "$((X - ${left:-0})) $((Y - ${top:-0}))"
}

# Prints the height of window $1's menu bar once the window has one: the
# window is taller than its client height $2. Waits up to 10 s; status 1
# when no bar came.
menu_bar_height() {
  local _ height
  for _ in $(seq 1 100); do
    height=$(xdotool getwindowgeometry "$1" 2>/dev/null | sed -n 's/.*Geometry: [0-9]*x\([0-9]*\).*/\1/p')
    [ -n "$height" ] && [ "$height" -gt "$2" ] && { echo $((height - $2)); return 0; }
    sleep 0.1
  done
  return 1
}

# Answers the box titled $1 with key $2 and waits up to 10 s for it to go.
# The key goes again (twice at most) only when the box is still shown after
# that wait: a second press sent while a slow box is still closing would
# answer the box that comes after it.
answer_box() {
  local w attempt _
  w=$(find_window "$1") || fail "no box captioned $1"
  for attempt in 1 2 3; do
    xdotool windowfocus --sync "$w" 2>/dev/null
    xdotool key --clearmodifiers "$2"
    for _ in $(seq 1 100); do
      xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | grep -qx "$w" || return 0
      sleep 0.1
    done
  done
  fail "the box captioned $1 did not take $2"
}
